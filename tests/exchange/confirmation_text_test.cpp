// The delivery confirmation page, piece by piece.
#include <gtest/gtest.h>

#include "core/text.h"
#include "exchange/confirmation.h"

namespace {

const std::wstring kHead =
    L"<html>\t<head>\t\t\t<meta http - equiv = \"content-type\" content = \"text/html; charset=utf-8\">\t\t\t"
    L"<meta type = \"onlyview\">\t</head>\t<body>\t\t<table width = \"800\" border = 0>\t\t\t<tr>\t\t\t\t"
    L"<td align = \"center\">\t\t\t\t\t<b><span name = \"typeDoc\">Подтверждение доставки</span></b>\t\t\t\t"
    L"</td>\t\t\t</tr>\t\t\t<tr>\t\t\t<td align = \"justify\">\t\t\t\t<span name = \"content\">";
const std::wstring kTail = L"</span>\t\t\t\t\t</td>\t\t\t\t</tr>\t\t\t</table>\t</body></html>";

TEST(ConfirmationText, IsTheHeadNameNumberReportDigestAndTail) {
  ASSERT_EQ(kHead.size(), 337u);
  std::wstring text = exchange::DeliveryConfirmationText(L"ООО Бета", "000000123000000045000670008",
                                                         L"Строка 1\r\nСтрока 2\r\n", "0A1B");
  std::wstring expected = kHead + L"ООО Бета" + L" подтверждает получение электронного документа №" +
                          L"000000123000000045000670008.<BR>" +
                          L"ЭЦП полученного электронного документа проверена.<BR>Результат проверки ЭПЦ "
                          L"полученного электронного документа:<BR>**************  Начало результата  "
                          L"******************<BR>" +
                          L"Строка 1<BR>Строка 2<BR>" +
                          L"<BR>************** Окончание результата ******************<BR>" +
                          L"<BR>Хэш-значение (1.2.840.113549.1.9.4) полученного электронного документа:<BR>" +
                          L"0A1B<BR>" + kTail;
  EXPECT_EQ(text, expected);
}

TEST(ConfirmationText, WithoutNumberTheNumberAndItsBreakAreLeftOut) {
  std::wstring text = exchange::DeliveryConfirmationText(L"X", "", L"", "FF");
  std::wstring afterName = kHead + L"X" + L" подтверждает получение электронного документа №" + L"ЭЦП ";
  EXPECT_EQ(text.substr(0, afterName.size()), afterName);
  EXPECT_EQ(text.find(L".<BR>ЭЦП"), std::wstring::npos);
  // The UTF-8 form the confirmation is signed in round-trips.
  EXPECT_EQ(core::ToWide(core::ToNarrow(text, core::kCodePageUtf8), core::kCodePageUtf8), text);
}

}  // namespace
