#include "translation_table.h"

namespace quorvik {

const TranslationTable& BuiltInTranslationTable() {
  static constexpr TranslationTable kTable{{
      {1, "                            Work with Submitted Jobs                   ",
       "                          Gestioni dei lavori immessi                  ", true},
      {2, "                           Work with Members Using PDM                 ",
       "                           Gestione dei membri con il PDM              ", true},
      {3, "                                               System  . . . . . :   ",
       "                                               Sistema . . . . . :   ", true},
      {4, " Columns . . . :   ", " Colonne . . . :   ", true},
      {5, " Columns . . . :  ", " Colonne . . . :  ", true},
      {6, "                          Prompt type .", "                          Tipo rich. fo",
       true},
      {7, " Prompt type .", " Tipo rich. fo", true},
      {8, "        *************** Beginning of data *************************************",
       "        ****************** Inizio dati ****************************************", true},
      {9, "        ****************** End of data ****************************************",
       "        ******************** Fine dati ****************************************", true},
      {10, "F24=More keys", "F24=Altri tas", true},
      {11, "English        ", "Italian        ", false},
  }};
  return kTable;
}

}  // namespace quorvik
