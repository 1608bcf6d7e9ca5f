// money!: the packed cell layout that hashing and the binary codecs rely on, the currency
// list's fixed positions, the shown-digits setting of the text forms, and the budget the
// text forms answer. The Zor-level behaviour is in tests/scripts/money.zor and the
// arithmetic against Python's decimal in tests/program/money_oracle.py.
#include <cstring>

#include "runtime/datatypes/money.h"
#include "tests/unit/scalar_fixture.h"

namespace zor {
namespace {

using namespace scalar_testing;

cell amount(bool negative, int currency, money::units magnitude) {
    cell c{TYPE_NONE, 0, 0, 0};
    return *money::set_cell(&c, negative, currency, magnitude);
}

TEST_F(ScalarTest, MoneyCellPacksDigitsHighNibbleFirst) {
    // -USD$1234.5 = 123450000 units: digits 14-18 are 1 2 3 4 5, digit 17 the units.
    cell c = amount(true, money::find_currency("USD", 3), 123450000);
    uint8_t bytes[16];
    std::memcpy(bytes, &c, 16);
    EXPECT_EQ(c.type(), TYPE_MONEY);
    EXPECT_EQ(c.header & money::SIGN_BIT, money::SIGN_BIT);
    EXPECT_EQ(bytes[4], 155);  // USD's place in the list
    const uint8_t digits[11] = {0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0x00, 0x00};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(bytes[5 + i], digits[i]) << "byte " << 5 + i;
    EXPECT_EQ(money::magnitude_of(&c), 123450000u);
    // The largest amount survives the round trip; a zero never keeps a sign.
    money::units largest = static_cast<money::units>(10000000000ULL) * 10000000000ULL * 100 - 1;
    cell big = amount(false, 0, largest);
    EXPECT_EQ(money::magnitude_of(&big), largest);
    cell zero = amount(true, 0, 0);
    EXPECT_EQ(zero.header & money::SIGN_BIT, 0u);
    EXPECT_EQ(money::sign_of(&zero), 0);
}

TEST_F(ScalarTest, MoneyCurrencyPositionsAreFixed) {
    struct row {
        const char* code;
        int index;
    };
    const row rows[] = {{"AED", 1}, {"ZOR", 123}, {"zor", 123}, {"USD", 155}, {"ZMW", 170}, {"XXX", -1}, {"US", -1}};
    for (const row& r : rows) {
        EXPECT_EQ(money::find_currency(r.code, static_cast<int>(std::strlen(r.code))), r.index) << r.code;
    }
    EXPECT_EQ(money::currency_code(123), "ZOR");
    EXPECT_EQ(money::currency_code(0), "");
}

TEST_F(ScalarTest, MoneyTextShowsTheSetFractionDigits) {
    cell value = amount(false, 0, 123456789100);  // $1234567.891
    struct row {
        int32_t digits;
        const char* formed;
        const char* molded;
    };
    const row rows[] = {
        {2, "$1'234'567.89", "$1234567.89"},
        {0, "$1'234'567", "$1234567"},
        {5, "$1'234'567.89100", "$1234567.89100"},
        {9, "$1'234'567.89100", "$1234567.89100"},  // at most five
    };
    for (const row& r : rows) {
        money::shown_fraction_digits = r.digits;
        text_result f = form(value);
        EXPECT_EQ(f.text, r.formed) << r.digits;
        EXPECT_EQ(f.budget, 1000 - static_cast<int>(f.text.size()));
        EXPECT_EQ(mold(value).text, r.molded) << r.digits;
        // mold/all always shows all five.
        EXPECT_EQ(mold(value, true).text, "$1234567.89100");
    }
}

}  // namespace
}  // namespace zor
