// The two code tables and their lookups.
#include <gtest/gtest.h>

#include <set>

#include "exchange/result_codes.h"

namespace {

TEST(ResultCodes, TablesHoldEveryCodeOnceInOrder) {
  std::set<int> results;
  int previous = 0;
  for (const exchange::CodeText& row : exchange::kResultCodes) {
    EXPECT_GT(row.code, previous);
    previous = row.code;
    results.insert(row.code);
    EXPECT_FALSE(std::wstring(row.text).empty());
  }
  EXPECT_EQ(results, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 101}));
  std::set<int> refusals;
  for (const exchange::CodeText& row : exchange::kRefusalCodes) refusals.insert(row.code);
  EXPECT_EQ(refusals, (std::set<int>{111, 112, 113, 114, 115, 121, 122, 123, 124, 191, 192, 199}));
}

TEST(ResultCodes, LookupsGiveTheTextsOfTheirOwnTable) {
  EXPECT_EQ(exchange::ResultText(1), L"Контрагент не найден");
  EXPECT_EQ(exchange::ResultText(10), L"Сообщение уже есть в АИС");
  EXPECT_EQ(exchange::ResultText(12),
            L"Ошибка синхронизации времени с сервером. Проверьте установленную дату и время и укажите "
            L"правильный часовой пояс UTC+03:00");
  EXPECT_EQ(exchange::ResultText(15), L"Недостаточно средств или абонент заблокирован Оператором");
  EXPECT_EQ(exchange::RefusalText(115), L"Сообщение не расшифровано");
  EXPECT_EQ(exchange::RefusalText(123), L"Неверен реквизит - руководитель получатетеля");
  EXPECT_EQ(exchange::RefusalText(199), L"СПАМ");

  // 101 lives only in the server's table, 111 only among the refusals.
  EXPECT_EQ(exchange::ResultText(101), L"Нет ожидающих сообщений в АИС");
  EXPECT_EQ(exchange::RefusalText(101), L"");
  EXPECT_EQ(exchange::RefusalText(111), L"Истек срок действия сертификата");
  EXPECT_EQ(exchange::ResultText(111), L"");
}

TEST(ResultCodes, UnknownCodesGiveNoText) {
  for (uint8_t code : {0, 16, 100, 200, 255}) {
    EXPECT_EQ(exchange::ResultText(code), L"") << int(code);
    EXPECT_EQ(exchange::RefusalText(code), L"") << int(code);
  }
}

}  // namespace
