// Text operations of the configuration update: search and replace-all against a plain search,
// in linear time on self-similar texts, and the line-end conversions.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "config/config_text.h"

TEST(ConfigText, FindAgreesWithAPlainSearchEverywhere) {
  std::mt19937 random(20140402);
  for (int round = 0; round < 20000; ++round) {
    const int letters = 1 + static_cast<int>(random() % 3);
    // Bytes over 0x7F too.
    auto letter = [&] { return static_cast<char>(0xFD + random() % letters); };
    std::string text(random() % 40, ' ');
    for (char& c : text) c = letter();
    std::string needle(random() % 8, ' ');
    for (char& c : needle) c = letter();
    if (round % 4 == 0 && !text.empty()) {
      size_t at = random() % text.size();
      needle = text.substr(at, random() % (text.size() - at + 1));
    }
    for (size_t from = 0; from <= text.size() + 1; ++from) {
      size_t plain = from <= text.size() ? text.find(needle, from) : std::string::npos;
      std::ptrdiff_t expected =
          plain == std::string::npos ? -1 : static_cast<std::ptrdiff_t>(plain);
      ASSERT_EQ(expected, config::Find(text, needle, from))
          << "text \"" << text << "\" needle \"" << needle << "\" from " << from;
    }
  }
}

TEST(ConfigText, FindAgreesWithAPlainSearchForLongNeedlesInRepetitiveTexts) {
  // Needles short and long (over 256 bytes) in texts of few letters, where windows often end
  // like the needle, and where the needle's rarest byte is often frequent enough that the search
  // gives up skipping to it part of the way through.
  std::mt19937 random(4142);
  for (int round = 0; round < 3000; ++round) {
    const int letters = 1 + static_cast<int>(random() % 2);
    std::string text(random() % 3000, 'a');
    for (char& c : text) c = static_cast<char>('a' + random() % letters);
    if (random() % 3 == 0) {  // long runs of one letter
      for (char& c : text) c = random() % 50 == 0 ? 'b' : 'a';
    }
    size_t length = 1 + random() % 400;
    std::string needle;
    if (text.size() > length && random() % 2 == 0) {
      needle = text.substr(random() % (text.size() - length), length);
    } else {
      needle.assign(length, 'a');
      needle[random() % length] = 'b';
    }
    size_t from = text.empty() ? 0 : random() % text.size();
    size_t plain = text.find(needle, from);
    ASSERT_EQ(plain == std::string::npos ? -1 : static_cast<std::ptrdiff_t>(plain),
              config::Find(text, needle, from))
        << "needle of " << needle.size() << " in text of " << text.size() << " from " << from;
  }
}

TEST(ConfigText, FindAndReplaceAllStayLinearOnSelfSimilarTexts) {
  // Runs of one tag and of one pair of letters, where every byte of the needle stands every few
  // bytes and each place begins a long partial match: a search that checked each place of the
  // needle's rarest byte by a plain comparison would compare about 10^12 bytes here.
  std::string text, pairs;
  for (int i = 0; i < 400000; ++i) text += "<contextFacturation>";
  for (int i = 0; i < 4000000; ++i) pairs += "ab";
  std::string value = text.substr(20, 2000000);
  EXPECT_EQ(-1, config::Find(text, "<contextFacturation>" + value + ">"));
  EXPECT_EQ(-1, config::Find(pairs, pairs.substr(0, 2000000) + "b"));
  std::string as(4000000, 'a');
  EXPECT_EQ(-1, config::Find(as, std::string(100000, 'a') + "b"));
  EXPECT_EQ(-1, config::Find(as, "b" + std::string(100000, 'a')));
  // Every window ends like these needles, whose first byte alone is missing from the text.
  EXPECT_EQ(-1, config::Find(as, "b" + std::string(200, 'a')));
  std::string found = as + "b" + std::string(200, 'a');
  EXPECT_EQ(4000000, config::Find(found, "b" + std::string(200, 'a')));
  EXPECT_EQ(4000000u, config::ReplaceAll(&as, "a", "bc"));
}

TEST(ConfigText, ReplaceAllIsLeftToRightNonOverlappingAndNeverRescans) {
  std::string text = "aaaaa";
  EXPECT_EQ(2u, config::ReplaceAll(&text, "aa", "b"));
  EXPECT_EQ("bba", text);
  text = "aXa";
  EXPECT_EQ(2u, config::ReplaceAll(&text, "a", "aa"));  // the inserted "a" is not rescanned
  EXPECT_EQ("aaXaa", text);
  text = "<active>0</active>0</active>";
  EXPECT_EQ(1u, config::ReplaceAll(&text, "<active>0</active>", "<active>1</active>"));
  EXPECT_EQ("<active>1</active>0</active>", text);
  text = "abab";
  EXPECT_EQ(2u, config::ReplaceAll(&text, "ab", ""));
  EXPECT_EQ("", text);
  text = "abc";
  EXPECT_EQ(0u, config::ReplaceAll(&text, "", "x"));  // an empty search changes nothing
  EXPECT_EQ("abc", text);
  EXPECT_EQ(0u, config::ReplaceAll(&text, "abcd", "x"));
  EXPECT_EQ("abc", text);
  text = "xababx";  // same length, in place: "aba" found once, the second one overlaps it
  EXPECT_EQ(1u, config::ReplaceAll(&text, "aba", "ABA"));
  EXPECT_EQ("xABAbx", text);
}
