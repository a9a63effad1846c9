// Deterministic sample documents for the benchmarks (see sample_documents.h).
// A small linear congruential generator picks words, phrases and numbers,
// so every run and every machine sees the same bytes.
#include "sample_documents.h"

#include <cstdio>
#include <string>

namespace bench_support {
namespace {

struct Random {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
  size_t Below(size_t n) { return Next() % n; }
};

const char* const kRussianWords[] = {
    "договор", "поставка", "товар", "стороны", "оплата", "счёт", "акт", "выполненных",
    "работ", "согласно", "условиям", "настоящего", "покупатель", "поставщик", "обязуется",
    "передать", "в", "собственность", "срок", "не", "позднее", "рабочих", "дней", "с",
    "момента", "получения", "предварительной", "оплаты", "на", "основании", "накладной",
    "количество", "цена", "сумма", "включая", "НДС", "руб.", "и", "по", "для", "от",
    "организации", "УНП", "филиал", "банк", "расчётный", "документ", "подпись", "печать",
    "электронный", "приложение", "перечень", "гарантийный", "претензия", "ответственность",
};

const char* const kEnglishWords[] = {
    "the", "supplier", "shall", "deliver", "goods", "within", "days", "of", "receipt",
    "payment", "invoice", "contract", "parties", "agree", "that", "all", "disputes", "are",
    "settled", "by", "negotiation", "and", "in", "accordance", "with", "law", "price",
    "quantity", "total", "amount", "including", "VAT", "bank", "account", "signature",
    "document", "electronic", "annex", "schedule", "warranty", "claim", "liability",
};

const char* const kFormulas[] = {
    "Настоящий договор вступает в силу с момента его подписания сторонами. ",
    "Все изменения и дополнения к договору действительны при условии их письменного оформления. ",
    "This agreement is made in two copies of equal legal force, one for each party. ",
    "Стороны освобождаются от ответственности за неисполнение обязательств вследствие обстоятельств непреодолимой силы. ",
    "Payment shall be made by bank transfer to the account of the Supplier. ",
};

template <size_t N>
const char* Pick(Random& random, const char* const (&words)[N]) {
  return words[random.Below(N)];
}

void AppendSentence(Random& random, std::string* out) {
  bool russian = random.Below(4) != 0;
  size_t words = 6 + random.Below(12);
  for (size_t i = 0; i < words; ++i) {
    std::string word = russian ? Pick(random, kRussianWords) : Pick(random, kEnglishWords);
    if (i == 0 && !word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
    *out += word;
    if (random.Below(15) == 0) {
      char number[32];
      std::snprintf(number, sizeof(number), " %u,%02u", random.Next() % 100000, random.Next() % 100);
      *out += number;
    }
    *out += i + 1 == words ? ". " : (random.Below(10) == 0 ? ", " : " ");
  }
}

void AppendParagraph(Random& random, std::string* out) {
  if (random.Below(3) == 0) *out += Pick(random, kFormulas);
  size_t sentences = 2 + random.Below(5);
  for (size_t i = 0; i < sentences; ++i) AppendSentence(random, out);
}

void AppendRequisites(Random& random, std::string* out) {
  char line[200];
  std::snprintf(line, sizeof(line),
                "УНП %09u, р/с BY%02uAKBB%020u, дата %02u.%02u.20%02u\n", random.Next() % 1000000000u,
                random.Next() % 100, random.Next(), 1 + random.Next() % 28, 1 + random.Next() % 12,
                10 + random.Next() % 15);
  *out += line;
}

}  // namespace

std::vector<uint8_t> SampleText(size_t size) {
  Random random{20240501};
  std::string text;
  int section = 1;
  while (text.size() < size) {
    char heading[64];
    std::snprintf(heading, sizeof(heading), "\n%d. РАЗДЕЛ %d\n\n", section, section);
    text += heading;
    ++section;
    size_t paragraphs = 3 + random.Below(6);
    for (size_t i = 0; i < paragraphs; ++i) {
      char number[16];
      std::snprintf(number, sizeof(number), "%d.%zu. ", section - 1, i + 1);
      text += number;
      AppendParagraph(random, &text);
      text += "\n";
      if (random.Below(5) == 0) AppendRequisites(random, &text);
    }
  }
  text.resize(size);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> SampleHtml(size_t size) {
  Random random{19890407};
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Документ</title>\n"
      "<style>table{border-collapse:collapse}td{border:1px solid #999;padding:2px 6px}</style>\n"
      "</head>\n<body>\n<h1>Товарная накладная</h1>\n";
  int row = 1;
  while (html.size() + 40 < size) {
    if (random.Below(3) == 0) {
      html += "<p class=\"text\">";
      AppendParagraph(random, &html);
      html += "</p>\n";
      continue;
    }
    html += "<table>\n<tr><th>№</th><th>Наименование</th><th>Количество</th><th>Цена</th><th>Сумма</th></tr>\n";
    size_t rows = 3 + random.Below(10);
    for (size_t i = 0; i < rows; ++i) {
      char line[256];
      unsigned count = 1 + random.Next() % 500;
      unsigned price = 1 + random.Next() % 10000;
      std::snprintf(line, sizeof(line),
                    "<tr><td class=\"n\">%d</td><td class=\"name\">%s %s</td><td class=\"q\">%u</td>"
                    "<td class=\"p\">%u,%02u</td><td class=\"s\">%u,%02u</td></tr>\n",
                    row++, Pick(random, kRussianWords), Pick(random, kRussianWords), count, price / 100,
                    price % 100, count * price / 100, count * price % 100);
      html += line;
    }
    html += "</table>\n";
  }
  html += "</body>\n</html>\n";
  return std::vector<uint8_t>(html.begin(), html.end());
}

}  // namespace bench_support
