#include "outcome_text.h"

namespace quorvik {

OutcomeText TextForOutcome(PatchOutcome outcome) {
  switch (outcome) {
    case PatchOutcome::InvalidPath:
      return {"File Path is Invalid.  Enter correct path and try again.", "Error"};
    case PatchOutcome::CannotUpdate:
      return {"Can not update now.  Program has already been updated or File Path is invalid.",
              kProductTitle};
    case PatchOutcome::Completed:
      break;
  }
  return {"Update is complete!", kProductTitle};
}

}  // namespace quorvik
