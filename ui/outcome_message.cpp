#include "outcome_message.h"

namespace quorvik {

OutcomeMessage MessageForOutcome(PatchOutcome outcome) {
  switch (outcome) {
    case PatchOutcome::InvalidPath:
      return {L"File Path is Invalid.  Enter correct path and try again.", L"Error"};
    case PatchOutcome::CannotUpdate:
      return {L"Can not update now.  Program has already been updated or File Path is invalid.",
              kProductTitle};
    case PatchOutcome::Completed:
      return {L"Update is complete!", kProductTitle};
  }
  return {L"", kProductTitle};
}

}  // namespace quorvik
