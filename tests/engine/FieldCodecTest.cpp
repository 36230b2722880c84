// The stored forms every writer shares: numbers kept digit by digit, real days only, and the
// code page table that the tools and the program both read text through.

#include "FieldCodec.h"

#include <gtest/gtest.h>

#include <string>

#include "Windows1252.h"

namespace {

using xb::FieldCodec;

TEST(FieldCodecTest, DecimalsAreParsedAndWrittenDigitByDigit) {
  struct Case {
    const char* text;
    int decimals;
    const char* stored;  // nullptr: not a number
  } cases[] = {
      {"42", 0, "42"},
      {"-0.50", 2, "-0.50"},
      {"+007.5", 2, "7.50"},
      {".5", 1, "0.5"},
      {"5.", 2, "5.00"},
      {"-0", 0, "0"},
      {"-0.00", 2, "0.00"},
      {"12345678901234567890", 0, "12345678901234567890"},
      {"", 0, nullptr},
      {"-", 0, nullptr},
      {".", 0, nullptr},
      {"1.2.3", 2, nullptr},
      {"1e5", 0, nullptr},
      {" 1", 0, nullptr},
      {"nan", 0, nullptr},
  };
  for (const Case& c : cases) {
    FieldCodec::Decimal number;
    const bool parsed = FieldCodec::ParseDecimal(c.text, &number);
    EXPECT_EQ(parsed, c.stored != nullptr) << c.text;
    if (parsed && c.stored) {
      EXPECT_EQ(FieldCodec::DecimalText(number, c.decimals), c.stored) << c.text;
    }
  }
}

TEST(FieldCodecTest, DatesMustBeRealDays) {
  for (const char* good : {"20240229", "00010101", "99991231", "20231231"})
    EXPECT_TRUE(FieldCodec::IsDateText(good)) << good;
  for (const char* bad : {"20230229", "00000101", "20231301", "20230100", "2023011", "2023-1-1",
                          "        ", "20230132"})
    EXPECT_FALSE(FieldCodec::IsDateText(bad)) << bad;
}

TEST(FieldCodecTest, StrictEncodingRefusesWhatWouldChange) {
  FieldCodec::Field amount{"AMOUNT", 'N', 6, 2};
  std::string stored, error;
  ASSERT_TRUE(FieldCodec::Encode(amount, "3.100", &stored, &error)) << error;
  EXPECT_EQ(stored, "  3.10");
  EXPECT_FALSE(FieldCodec::Encode(amount, "3.105", &stored, &error));
  EXPECT_FALSE(FieldCodec::Encode(amount, "1000.5", &stored, &error));
  FieldCodec::Field due{"DUE", 'D', 8, 0};
  EXPECT_FALSE(FieldCodec::Encode(due, "20230229", &stored, &error));
  ASSERT_TRUE(FieldCodec::Encode(due, "20240229", &stored, &error)) << error;
  EXPECT_EQ(stored, "20240229");
}

TEST(FieldCodecTest, DateTimesDecodeOnTheCalendar) {
  FieldCodec::Field stamp{"STAMP", 'T', 8, 0};
  auto bytes = [](int32_t day, int32_t ms) {
    std::string b(8, '\0');
    for (int i = 0; i < 4; ++i) {
      b[static_cast<size_t>(i)] = static_cast<char>((day >> (8 * i)) & 0xFF);
      b[static_cast<size_t>(4 + i)] = static_cast<char>((ms >> (8 * i)) & 0xFF);
    }
    return b;
  };
  std::string text, error;
  ASSERT_TRUE(FieldCodec::Decode(stamp, bytes(2451545, 45296789), &text, &error)) << error;
  EXPECT_EQ(text, "2000-01-01T12:34:56.789");
  ASSERT_TRUE(FieldCodec::Decode(stamp, bytes(1, 0), &text, &error)) << error;
  EXPECT_EQ(text, "-4713-11-25T00:00:00");
  EXPECT_FALSE(FieldCodec::Decode(stamp, bytes(5373485, 0), &text, &error));
}

TEST(Windows1252Test, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    unsigned char back = 0;
    const char32_t c = xb::Windows1252::ToUnicode(static_cast<unsigned char>(b));
    ASSERT_TRUE(xb::Windows1252::FromUnicode(c, &back)) << b;
    EXPECT_EQ(back, b);
  }
  EXPECT_EQ(xb::Windows1252::ToUnicode(0x80), U'\u20AC');
  EXPECT_EQ(xb::Windows1252::ToUnicode(0x81), U'\u0081');  // unused byte: its C1 control
  unsigned char byte = 0;
  EXPECT_FALSE(xb::Windows1252::FromUnicode(U'\u0100', &byte));
  EXPECT_FALSE(xb::Windows1252::FromUnicode(U'\u0080', &byte));  // 0x80 is the euro sign
}

}  // namespace
