// The registration agreement's model: what opening clears, what the check
// box enables, and the text the build takes from its resource file.
#include <gtest/gtest.h>

#include "exchange/session.h"
#include "shell/agreement_dialog.h"

namespace {

TEST(AgreementDialog, ContinueNeedsTheBoxTickedAndOnlyThenSetsTheAgreementFlag) {
  exchange::SetRegistered(true);  // agreed earlier in the run
  shell::AgreementDialog dialog;
  shell::OpenAgreementDialog(&dialog);
  EXPECT_FALSE(exchange::Registered()) << "opening starts without an agreement";
  EXPECT_FALSE(dialog.canContinue);
  EXPECT_EQ(shell::ContinueAgreement(dialog), 0);
  EXPECT_FALSE(exchange::Registered());

  shell::TickAgreement(&dialog, true);
  shell::TickAgreement(&dialog, false);
  EXPECT_EQ(shell::ContinueAgreement(dialog), 0) << "a box ticked and cleared again agrees to nothing";
  shell::TickAgreement(&dialog, true);
  EXPECT_EQ(shell::ContinueAgreement(dialog), shell::kAgreementContinue);
  EXPECT_TRUE(exchange::Registered());
  exchange::ResetSessionStateForTest();

  // The field shows the whole text with the line ends a dialog's field needs.
  EXPECT_GT(dialog.text.size(), 4000u);
  EXPECT_EQ(dialog.text.rfind(L"СОГЛАШЕНИЕ", 0), 0u);
  EXPECT_EQ(dialog.text.find(L'\n'), dialog.text.find(L"\r\n") + 1);
}

}  // namespace
