// time!: the hours:minutes:seconds text against an exact oracle, construction, the field
// accessors and setters (negative times included), arithmetic type rules, rounding,
// parity, the inherited float! actions and the notification of a changed scalar's owner.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/time.h"
#include "tests/unit/scalar_fixture.h"
#include "runtime/value/upcalls.h"

namespace zor {
namespace {

using namespace scalar_testing;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

// The text of seconds given as their bit pattern. Made with python3 (standard library
// only) by an exact model of the text: m = |x|; s = math.fmod(m, 60); whole minutes
// q = (Fraction(m) - Fraction(s)) / 60; the seconds field is "00" when s < 1e-6, else
// Decimal(s) rounded half-even to 6 significant digits; a field that rounds to 60 is "00"
// and adds 1 to q; otherwise it is written without exponent or trailing zeros and padded
// to two integer digits; then "-" when x < 0, q // 60, ":", q % 60 in two digits, ":",
// the field. The values: fixed edge cases, then random times up to 500 hours (30%
// negated, seconds near 59.99995 among them), random values up to +-1e13 and random
// values below 1e-5 (random.seed(20261210)).
const struct oracle_row {
    uint64_t bits;
    const char* text;
} TIME_TEXT_ORACLE[] = {
    {0x0000000000000000ULL, "0:00:00"},
    {0x40AD160000000000ULL, "1:02:03"},
    {0xC056800000000000ULL, "-0:01:30"},
    {0x3EA0C6F7A0B5ED8DULL, "0:00:00"},
    {0x3E7AD7F29ABCAF48ULL, "0:00:00"},
    {0x4014000000000000ULL, "0:00:05"},
    {0x4016000000000000ULL, "0:00:05.5"},
    {0x4115F90000000000ULL, "100:00:00"},
    {0x404DFFFFFCA501ADULL, "0:01:00"},
    {0x40AC1FFFFFF29407ULL, "1:00:00"},
    {0xC0AC1FFFFFEF8EEFULL, "-1:00:00"},
    {0x40F517FFFFFFE528ULL, "24:00:00"},
    {0x404DFFFE5C91D14EULL, "0:00:59.9999"},
    {0x404DFFFE5C8FAB8DULL, "0:00:59.9999"},
    {0x3EB0C6F7A0B5ED8DULL, "0:00:00.000001"},
    {0x3EB92A737110E454ULL, "0:00:00.0000015"},
    {0x4028B0FCD324D5A2ULL, "0:00:12.3457"},
    {0xC1376EFF00000000ULL, "-426:35:43"},
    {0x41368B3FFFFCB7E6ULL, "410:23:59.9999"},
    {0xC135BB2441D4D834ULL, "-395:36:04.25715"},
    {0x412596C000000000ULL, "196:30:24"},
    {0x41303A87FFFCB8A3ULL, "295:25:59.9999"},
    {0x412A827D6B0DCC33ULL, "241:17:50.7091"},
    {0xC128542E4D319829ULL, "-221:26:47.1508"},
    {0x412C0788009B9EE5ULL, "255:07:48.0012"},
    {0xC1175F1FFFF2E7BDULL, "-106:22:00"},
    {0xC138C2ABFFFCB7D9ULL, "-450:44:59.9999"},
    {0xC1327F670504F6E0ULL, "-336:44:23.0196"},
    {0xC12EE8A46E07396CULL, "-281:20:18.2149"},
    {0xC0F6F3069769A911ULL, "-26:06:40.412"},
    {0x412BFA07FFF97179ULL, "254:38:59.9999"},
    {0x410A2DD8792F4D8FULL, "59:34:19.0592"},
    {0x412599902D41B491ULL, "196:36:24.0884"},
    {0xC110D5AFFFF2E756ULL, "-76:37:00"},
    {0x41344BA400000000ULL, "369:28:04"},
    {0xC12CD7BFFFF96F10ULL, "-262:31:59.9999"},
    {0xC0FDED3FFFCBA7F3ULL, "-34:03:00"},
    {0x41049CDEEEBE596DULL, "46:54:19.8666"},
    {0x411E2AB800000000ULL, "137:17:34"},
    {0xC13291E400000000ULL, "-338:03:16"},
    {0xC137C1BDBEB8E8EAULL, "-432:28:45.745"},
    {0xC1364BF56B5ED19DULL, "-405:53:57.4194"},
    {0x41324F2B50F8C650ULL, "333:18:35.3163"},
    {0x4138D376E7821150ULL, "451:56:38.9043"},
    {0xC0EE72124D86418BULL, "-17:19:12.572"},
    {0xC1319FC300000000ULL, "-320:50:11"},
    {0x4137D3D7FFFCB996ULL, "433:46:00"},
    {0x41365C3DA1534A8BULL, "407:03:25.6302"},
    {0x410885E65F9E4C4AULL, "55:48:12.7967"},
    {0xC1395A1DED183B60ULL, "-461:31:09.92615"},
    {0xC127EA75FABE5263ULL, "-217:41:14.9897"},
    {0x4134805244B4FFB4ULL, "373:12:50.2684"},
    {0x41315A29595043E5ULL, "315:53:13.3489"},
    {0xC131EBEFC88BA83FULL, "-326:15:11.7834"},
    {0xC0ECD3FFFF97367AULL, "-16:24:00"},
    {0x40F3BCD315758A18ULL, "22:27:25.1927"},
    {0xC11CA6BC00000000ULL, "-130:23:43"},
    {0x41226EE7FFF9750DULL, "167:47:00"},
    {0x41300543B84AF83FULL, "291:38:43.7199"},
    {0xC13A466E00000000ULL, "-478:19:26"},
    {0x413710FC00000000ULL, "419:54:36"},
    {0x41352F28B881425BULL, "385:38:48.7207"},
    {0x4111F1256EC02F30ULL, "81:39:21.3582"},
    {0xC132FFFBFFFCB8A2ULL, "-345:52:59.9999"},
    {0x4139A5EA2C0B95E6ULL, "466:54:34.1721"},
    {0x412D386A00000000ULL, "265:58:13"},
    {0xC132B00FFFFCB903ULL, "-340:11:59.9999"},
    {0x412865921B09331FULL, "222:03:53.0528"},
    {0xC12D4248361E644AULL, "-266:19:16.1057"},
    {0x410D43C000000000ULL, "66:35:36"},
    {0xC129F31FFFF96F5AULL, "-236:11:59.9999"},
    {0x41393AFD00000000ULL, "459:18:21"},
    {0xC12249C600000000ULL, "-166:27:47"},
    {0x41339EDAB14F0521ULL, "357:10:50.6926"},
    {0xC13693BAE1949F37ULL, "-411:00:10.8812"},
    {0x4117B21622B34307ULL, "107:50:29.5339"},
    {0x4120D298409FC6DAULL, "153:07:24.1262"},
    {0xC12E1C6AA1CB6849ULL, "-274:04:37.316"},
    {0x41334B1D00000000ULL, "351:13:33"},
    {0xC13796156310E59AULL, "-429:22:29.387"},
    {0xC1352D17FFFCBAC3ULL, "-385:30:00"},
    {0x4132E977A4A85A73ULL, "344:16:55.6432"},
    {0xC131D42300000000ULL, "-324:33:39"},
    {0x41151AB400000000ULL, "96:02:53"},
    {0x410AD76000000000ULL, "61:04:44"},
    {0x4137CA9042A7EF9EULL, "433:06:24.2604"},
    {0xC12273AE00000000ULL, "-167:57:11"},
    {0xC13201D541083DBCULL, "-327:48:37.254"},
    {0x41317E340F7542A2ULL, "318:27:00.060383"},
    {0x4104E8828A9BD1E8ULL, "47:34:40.3177"},
    {0x412E286704595358ULL, "274:30:11.5085"},
    {0xC12FFCF000000000ULL, "-291:09:44"},
    {0x4125F8DC00000000ULL, "199:59:42"},
    {0xC130D1D617A99629ULL, "-306:11:34.0924"},
    {0x4135C0FBFFFCB781ULL, "396:00:59.9999"},
    {0x41389F0BFFFCB90CULL, "448:12:59.9999"},
    {0xC107BF8000000000ULL, "-54:02:24"},
    {0x412F44D7FFF97221ULL, "284:36:59.9999"},
    {0x4123C0DFFFF9753EULL, "179:48:00"},
    {0x410EAEA3500A1DC5ULL, "69:49:08.41408"},
    {0x411DE80C00000000ULL, "136:06:27"},
    {0x413ACE4500000000ULL, "487:59:01"},
    {0x412D834FFFF97232ULL, "268:37:59.9999"},
    {0x41168498C36C40D6ULL, "102:28:54.1908"},
    {0x4136B1478B6AA4BAULL, "413:06:15.5446"},
    {0x41334F9600000000ULL, "351:32:38"},
    {0x4126ABD400000000ULL, "206:21:30"},
    {0x4136CB8000000000ULL, "414:58:08"},
    {0x4120D36E97CD898BULL, "153:09:11.2965"},
    {0xC12ADDB400000000ULL, "-244:32:26"},
    {0xC13802346F1E76DFULL, "-437:03:48.4341"},
    {0x41319C03A8A419E0ULL, "320:34:11.6588"},
    {0x41385FB42F302F73ULL, "443:42:44.1843"},
    {0x412F5797FFF97485ULL, "285:17:00"},
    {0x412E9F4741702E66ULL, "278:43:47.6278"},
    {0x41360961276B8F9BULL, "401:09:53.154"},
    {0x4131114800000000ULL, "310:42:16"},
    {0x412BF8E400000000ULL, "254:36:34"},
    {0xC139A76F00000000ULL, "-467:01:03"},
    {0xC112209FFFF2E0F1ULL, "-82:29:59.9999"},
    {0xC1399F73FFFCB7FCULL, "-466:26:59.9999"},
    {0x4128B7B400000000ULL, "224:59:06"},
    {0xC133488FB62AF577ULL, "-351:02:39.7116"},
    {0x4136DA02D4D338F8ULL, "416:00:02.83135"},
    {0x413A421E00000000ULL, "478:01:02"},
    {0x4121C78FFFF972A9ULL, "161:50:00"},
    {0xC12E469431D0E992ULL, "-275:34:34.0973"},
    {0x4133A17900000000ULL, "357:22:01"},
    {0xC1334303FFFCB9DEULL, "-350:39:00"},
    {0xC13AE015BC859E71ULL, "-489:15:01.73641"},
    {0x41314ECEBA37AC3FULL, "315:04:46.7274"},
    {0x4116AB763127F5E8ULL, "103:10:21.548"},
    {0x413935BE00000000ULL, "458:55:58"},
    {0x410C25BF735AEC88ULL, "64:03:03.93133"},
    {0xC1208E7E65B8348FULL, "-150:42:07.19867"},
    {0xC1137E8DB9286D06ULL, "-88:43:15.4308"},
    {0x4137A00BFFFCB786ULL, "430:04:59.9999"},
    {0xC287E6849DDBFF6EULL, "-912459543:34:23.9287"},
    {0x42942DDD3723A372ULL, "1540778990:25:44.8613"},
    {0x429F0021E8FA4278ULL, "2367043706:46:40.6172"},
    {0x428C7F99D252E2C4ULL, "1087998858:24:28.3457"},
    {0xC28CC50F522626E2ULL, "-1098357332:32:04.86035"},
    {0x428CCE5BE5645310ULL, "1099744118:04:58.3828"},
    {0xC27DC8C40D3E741CULL, "-568543747:41:27.2568"},
    {0x4292DD23100F8F32ULL, "1440346203:17:55.7988"},
    {0x429961745D31F1E6ULL, "1937941304:38:20.4746"},
    {0xC29A353262CAC0FFULL, "-2001095897:30:24.249"},
    {0x424C387A1DEDB800ULL, "67337006:21:15.4375"},
    {0xC286307A7B2B1088ULL, "-847134344:54:58.0664"},
    {0x42A0730ADF77EFB4ULL, "2511984680:40:23.8516"},
    {0xC290E0A027A11A20ULL, "-1288676782:40:06.53125"},
    {0x428E2ADFCA576324ULL, "1151718473:35:40.3926"},
    {0xC278371BED21E87CULL, "-462239076:16:30.5303"},
    {0xC297F117200A6FBEULL, "-1828072398:07:23.9355"},
    {0x4284E1268ED53B4CULL, "797126635:08:23.4121"},
    {0x42973D106FA993AAULL, "1774377513:41:56.916"},
    {0x428EE7918FF9E304ULL, "1179858625:22:04.37695"},
    {0x4279CB55D01927D8ULL, "492380360:21:38.4902"},
    {0xC2700E446BC0EF68ULL, "-306483741:18:06.96289"},
    {0x4280087C35AAAE98ULL, "612105197:02:13.8242"},
    {0x4290424EEC6AA012ULL, "1241456805:44:08.01758"},
    {0xC284A093DA9118C4ULL, "-787496802:00:03.0957"},
    {0x42823DC0A19AC4C8ULL, "696403962:32:56.5977"},
    {0x42A104EAA03C416CULL, "2599001932:05:52.7109"},
    {0xC296A4D25FD2395EULL, "-1728969440:27:58.3418"},
    {0xC292E36C169EDFC1ULL, "-1442220854:01:27.9385"},
    {0xC276BADDDCAE6D3CULL, "-433886145:03:34.8271"},
    {0x429782C870AA8DF4ULL, "1795171945:25:55.4883"},
    {0x429A19CDED9BA0A0ULL, "1992925792:03:52.1562"},
    {0xC264DA40C708B270ULL, "-199024498:21:57.5762"},
    {0x429253F58F445364ULL, "1399431346:42:28.8477"},
    {0x4291DC30C7486B14ULL, "1363708947:29:30.7695"},
    {0x42849E1D65911B44ULL, "787129534:09:39.4082"},
    {0xC29D2AF997B555F7ULL, "-2227112034:47:49.4912"},
    {0x428B10E1AA083520ULL, "1033309702:53:58.6406"},
    {0xC2739FE8DD37EB50ULL, "-374609853:07:10.707"},
    {0x427B862641488E70ULL, "525398982:17:44.9023"},
    {0x3ED40C6A6DAD45CCULL, "0:00:00.00000477993"},
    {0x3EDAF0F4263D72C7ULL, "0:00:00.00000642329"},
    {0x3EE478ADC07915C2ULL, "0:00:00.00000976152"},
    {0x3EE03B097013E1AFULL, "0:00:00.00000773936"},
    {0x3EC675196C5448C7ULL, "0:00:00.00000267713"},
    {0x3EE343BB71683504ULL, "0:00:00.00000918607"},
    {0x3EE0C2BBBBB60C19ULL, "0:00:00.00000799211"},
    {0x3ED666A09C242F84ULL, "0:00:00.00000534079"},
    {0x3ECD4C2024B5CCC3ULL, "0:00:00.00000349252"},
    {0x3ED05EEF51499FF5ULL, "0:00:00.00000390311"},
    {0x3ECC127E0AF8FCBCULL, "0:00:00.00000334647"},
    {0x3EE2C80F2403382FULL, "0:00:00.00000895571"},
    {0x3ED0D6E56059AB11ULL, "0:00:00.00000401483"},
    {0x3EDE293D101A9B90ULL, "0:00:00.00000719096"},
    {0x3EE156E010BDB898ULL, "0:00:00.00000826805"},
    {0x3EC8BE5E3CD6E689ULL, "0:00:00.00000294967"},
    {0x3EE29EBFC77BA13CULL, "0:00:00.00000887876"},
    {0x3EC9A5F5E62D59B7ULL, "0:00:00.00000305751"},
    {0x3EE10F2B472A09D4ULL, "0:00:00.00000813449"},
    {0x3ED161E7A64D5747ULL, "0:00:00.0000041443"},
};

double seconds_of(const cell& c) { return float_::get(&c); }

class Time : public ScalarTest {};

TEST_F(Time, TextMatchesTheOracle) {
    for (const oracle_row& r : TIME_TEXT_ORACLE) {
        double seconds = std::bit_cast<double>(r.bits);
        SCOPED_TRACE(r.text);
        text_result f = form(time_cell(seconds), 1000);
        text_result m = mold(time_cell(seconds), true, false, 1000);
        EXPECT_EQ(f.text, r.text);
        EXPECT_EQ(m.text, r.text);
        // Every character written, the sign included, is taken from the budget.
        EXPECT_EQ(f.budget, 1000 - static_cast<int>(f.text.size()));
        EXPECT_EQ(m.budget, f.budget);
    }
}

TEST_F(Time, TextOfEdgeValues) {
    const struct {
        double seconds;
        const char* text;
    } rows[] = {
        {3723.0, "1:02:03"},
        {-90.0, "-0:01:30"},
        {0.0000005, "0:00:00"},
        {360000.0, "100:00:00"},
        // Rounding first carries into the minutes and hours.
        {59.9999996, "0:01:00"},
        {-3599.9999996, "-1:00:00"},
        // Hours beyond 32 bits are written in full.
        {3600.0 * 4294967296.0, "4294967296:00:00"},
        {1e300, nullptr},
        {INF, "1.#INF"},
        {-INF, "-1.#INF"},
        {NAN_VALUE, "1.#NaN"},
    };
    for (const auto& r : rows) {
        text_result f = form(time_cell(r.seconds));
        if (r.text) {
            EXPECT_EQ(f.text, r.text);
        } else {
            // 1e300 seconds: the exact integral hours, no exponent.
            EXPECT_EQ(f.text.find('e'), std::string::npos);
            EXPECT_GT(f.text.size(), 290u);
        }
    }
    cell* out = string::push_empty();
    EXPECT_EQ(time::form_into_string(-5.5, out, 20), 20 - 10);
    EXPECT_EQ(string::to_utf8(out), "-0:00:05.5");
}

TEST_F(Time, MakeAndTo) {
    const struct {
        const char* what;
        spec made_from;
        int error;
        double seconds;
    } rows[] = {
        {"0:00:05", time_cell(5.0), NO_ERROR, 5.0},
        {"90", int_cell(90), NO_ERROR, 90.0},
        {"1.5", float_cell(1.5), NO_ERROR, 1.5},
        {"50%", percent_cell(0.5), NO_ERROR, 0.5},
        {"[1 2 3.5]", block_spec({int_cell(1), int_cell(2), float_cell(3.5)}), NO_ERROR, 3723.5},
        {"[-1 30]", block_spec({int_cell(-1), int_cell(30)}), NO_ERROR, -5400.0},
        {"[-1 2]", block_spec({int_cell(-1), int_cell(2)}), NO_ERROR, -3720.0},
        {"[0 90]", block_spec({int_cell(0), int_cell(90)}), NO_ERROR, 5400.0},
        {"[]", block_spec({}), NO_ERROR, 0.0},
        {"[-2147483648]", block_spec({int_cell(INT32_MIN)}), NO_ERROR, -2147483648.0 * 3600.0},
        {"[1 2.5]", block_spec({int_cell(1), float_cell(2.5)}), code(err::script_bad_to_arg), 0},
        {"[1.5]", block_spec({float_cell(1.5)}), code(err::script_bad_to_arg), 0},
        {"[-1 -2]", block_spec({int_cell(-1), int_cell(-2)}), code(err::script_bad_to_arg), 0},
        {"[1 2 -3]", block_spec({int_cell(1), int_cell(2), int_cell(-3)}), code(err::script_bad_to_arg), 0},
        {"[1 2 -0.5]", block_spec({int_cell(1), int_cell(2), float_cell(-0.5)}), code(err::script_bad_to_arg), 0},
        {"[1 2 3 4]", block_spec({int_cell(1), int_cell(2), int_cell(3), int_cell(4)}), code(err::script_bad_to_arg),
         0},
        {"[none]", block_spec({none_cell}), code(err::script_bad_to_arg), 0},
        {"none", none_cell, code(err::script_bad_to_arg), 0},
        {"1x2", cell{TYPE_PAIR, 0, 1, 2}, code(err::script_bad_to_arg), 0},
    };
    for (action a : {ACTION_MAKE, ACTION_TO}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(r.what);
            outcome o = call_make(a, TYPE_TIME, r.made_from);
            EXPECT_EQ(o.error, r.error);
            if (r.error != NO_ERROR) {
                EXPECT_EQ(o.arg1.w1, TYPE_TIME);
                EXPECT_EQ(o.arg2.type(), r.made_from.type());
                continue;
            }
            EXPECT_EQ(o.value.type(), TYPE_TIME);
            EXPECT_EQ(seconds_of(o.value), r.seconds);
        }
    }
    EXPECT_EQ(form(call_make(ACTION_MAKE, TYPE_TIME, block_spec({int_cell(1), int_cell(2), float_cell(3.5)})).value)
                  .text,
              "1:02:03.5");
}

// Stands in for the lexer: "1:30" loads as a time, anything else as an integer.
bool fake_scanner(const char* utf8, int64_t length, cell* out) {
    *out = std::string(utf8, static_cast<size_t>(length)) == "1:30" ? time_cell(5400.0) : int_cell(1);
    return true;
}

TEST_F(Time, MakeFromTextLoadsOneValue) {
    decltype(upcalls::scan_text) saved = upcalls::scan_text;
    auto from_text = [](const char* text, type_id string_type) {
        return run([&] {
            cell proto = datatype_cell(TYPE_TIME);
            cell* result = stack::push_copy(&proto);
            cell* spec = string::load_onto_stack(unicode::input_bytes::at(text),
                                                 static_cast<int64_t>(std::strlen(text)), string::ENCODING_UTF8);
            cell::set_type(spec, string_type);
            return handler_of<ACTION_MAKE>(TYPE_TIME)(result, spec, TYPE_TIME);
        });
    };
    upcalls::scan_text = nullptr;
    EXPECT_EQ(from_text("1:30", TYPE_STRING).error, code(err::internal_not_done));
    upcalls::scan_text = &fake_scanner;
    for (type_id t : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
        outcome o = from_text("1:30", t);
        EXPECT_EQ(o.error, NO_ERROR);
        EXPECT_EQ(o.value.type(), TYPE_TIME);
        EXPECT_EQ(seconds_of(o.value), 5400.0);
    }
    EXPECT_EQ(from_text("12", TYPE_STRING).error, code(err::script_bad_to_arg));
    upcalls::scan_text = saved;
}

TEST_F(Time, FieldsReadByIndexAndWord) {
    const struct {
        double seconds;
        int32_t hour, minute;
        double second;
    } rows[] = {
        {3723.5, 1, 2, 3.5},
        {-5415.0, -1, 30, -15.0},  // -1:30:15
        {-10.0, 0, 0, -10.0},
        {86399.0, 23, 59, 59.0},
        {3600.0 * 2147483647.0, INT32_MAX, 0, 0.0},
    };
    cell* hour = push_word("hour");
    cell* minute = push_word("MINUTE");
    cell* second = push_word("Second");
    auto pick = handler_of<ACTION_PICK>(TYPE_TIME);
    auto eval_path = handler_of<ACTION_EVAL_PATH>(TYPE_TIME);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.seconds);
        cell* t = stack::push_copy(&static_cast<const cell&>(time_cell(r.seconds)));
        cell* words[3] = {hour, minute, second};
        for (int i = 1; i <= 3; ++i) {
            cell by_index = *pick(t, i, nullptr);
            cell by_word = *pick(t, 0, words[i - 1]);
            cell* index_cell = stack::push_copy(&static_cast<const cell&>(int_cell(i)));
            cell by_path = *eval_path(t, words[i - 1], nullptr, nullptr, nullptr, nullptr, 1, 0, true, true, false);
            cell by_path_index = *eval_path(t, index_cell, nullptr, nullptr, nullptr, nullptr, 1, 0, true, true, false);
            for (const cell& c : {by_index, by_word, by_path, by_path_index}) {
                if (i < 3) {
                    EXPECT_EQ(c.type(), TYPE_INTEGER);
                    EXPECT_EQ(static_cast<int32_t>(c.w2), i == 1 ? r.hour : r.minute);
                } else {
                    EXPECT_EQ(c.type(), TYPE_FLOAT);
                    EXPECT_EQ(float_::get(&c), r.second);
                }
            }
        }
    }
    EXPECT_EQ(time::accessor_index(hour, nullptr), 1);
    EXPECT_EQ(time::accessor_index(second, nullptr), 3);
    cell* other = push_word("day");
    EXPECT_EQ(time::accessor_index(other, nullptr), -1);
}

TEST_F(Time, FieldErrors) {
    cell* t = stack::push_copy(&static_cast<const cell&>(time_cell(3723.0)));
    cell* other = push_word("day");
    cell* path = push_word("t");
    auto pick = handler_of<ACTION_PICK>(TYPE_TIME);
    auto eval_path = handler_of<ACTION_EVAL_PATH>(TYPE_TIME);

    outcome o = run([&] { return pick(t, 0, other); });
    EXPECT_EQ(o.error, code(err::script_cannot_use));
    EXPECT_EQ(o.arg1.w2, other->w2);
    EXPECT_EQ(o.arg2.type(), TYPE_TIME);
    for (int i : {0, 4, -1}) {
        o = run([&] { return pick(t, i, stack::push_copy(&static_cast<const cell&>(int_cell(i)))); });
        EXPECT_EQ(o.error, code(err::script_out_of_range));
        EXPECT_EQ(static_cast<int32_t>(o.arg1.w2), i);
    }
    cell* elements[] = {stack::push_copy(&static_cast<const cell&>(int_cell(4))),
                        stack::push_copy(&static_cast<const cell&>(int_cell(0))), other,
                        stack::push_copy(&static_cast<const cell&>(float_cell(1.0)))};
    for (cell* element : elements) {
        o = run([&] { return eval_path(t, element, nullptr, path, nullptr, nullptr, 1, 0, false, true, false); });
        EXPECT_EQ(o.error, code(err::script_invalid_path));
        EXPECT_EQ(o.arg1.w2, path->w2);
        EXPECT_EQ(o.arg2.type(), element->type());
    }
    // Huge times have no 32-bit hour.
    EXPECT_EQ(testing::raised_code([] { time::whole_hours(3600.0 * 2147483648.0); }), code(err::math_overflow));
    EXPECT_EQ(testing::raised_code([] { time::whole_hours(NAN_VALUE); }), code(err::math_overflow));
    EXPECT_EQ(testing::raised_code([] { time::whole_minutes(INF); }), code(err::math_overflow));
    EXPECT_EQ(time::whole_hours(-3600.0 * 2147483648.0), INT32_MIN);
}

TEST_F(Time, SettingFields) {
    const struct {
        const char* what;
        double seconds;
        int index;
        cell value;
        int error;
        double result;
    } rows[] = {
        {"1:10:20 minute 75", 4220.0, 2, int_cell(75), NO_ERROR, 8120.0},
        {"1:10:20 hour 5", 4220.0, 1, int_cell(5), NO_ERROR, 18620.0},
        {"1:10:20 second 75", 4220.0, 3, int_cell(75), NO_ERROR, 4275.0},
        {"1:10:20 second 2.5", 4220.0, 3, float_cell(2.5), NO_ERROR, 4202.5},
        {"1:10:20 minute -15", 4220.0, 2, int_cell(-15), NO_ERROR, 2720.0},
        // Negative times keep their sign: the field is set on the magnitude.
        {"-1:30:15 minute 45", -5415.0, 2, int_cell(45), NO_ERROR, -6315.0},
        {"-1:30:15 hour -2", -5415.0, 1, int_cell(-2), NO_ERROR, -9015.0},
        {"-1:30:15 second -20.5", -5415.0, 3, float_cell(-20.5), NO_ERROR, -5420.5},
        {"1:10:20 hour 1.5", 4220.0, 1, float_cell(1.5), code(err::script_invalid_arg), 4220.0},
        {"1:10:20 minute none", 4220.0, 2, none_cell, code(err::script_invalid_arg), 4220.0},
        {"1:10:20 second 0:00:01", 4220.0, 3, time_cell(1.0), code(err::script_invalid_arg), 4220.0},
    };
    auto eval_path = handler_of<ACTION_EVAL_PATH>(TYPE_TIME);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        cell* t = stack::push_copy(&static_cast<const cell&>(time_cell(r.seconds)));
        outcome o = run([&] {
            cell* e = stack::push_copy(&static_cast<const cell&>(int_cell(r.index)));
            cell* v = stack::push_copy(&r.value);
            return eval_path(t, e, v, nullptr, nullptr, nullptr, 1, 0, false, true, false);
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::script_invalid_arg)) { EXPECT_EQ(o.arg1.type(), r.value.type()); }
        EXPECT_EQ(t->type(), TYPE_TIME);
        EXPECT_EQ(seconds_of(*t), r.result);
    }
}

TEST_F(Time, WritingBackAFieldChangesNothing) {
    const double values[] = {4220.0, -4220.0, -5415.25, -10.0, -0.5, -59.75, -3600.0, -86399.999, 7.125, 0.0};
    for (double seconds : values) {
        for (int index = 1; index <= 3; ++index) {
            SCOPED_TRACE(std::to_string(seconds) + " field " + std::to_string(index));
            cell* field = time::get_field(seconds, index);
            EXPECT_EQ(time::with_field(seconds, index, field), seconds);
        }
    }
}

TEST_F(Time, ArithmeticTypeRules) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        int error;
        type_id type;
        double value;
    } rows[] = {
        {"0:01 + 1.5", ACTION_ADD, time_cell(60.0), float_cell(1.5), NO_ERROR, TYPE_TIME, 61.5},
        {"0:01 - 0:00:30", ACTION_SUBTRACT, time_cell(60.0), time_cell(30.0), NO_ERROR, TYPE_TIME, 30.0},
        {"0:01 * 2", ACTION_MULTIPLY, time_cell(60.0), int_cell(2), NO_ERROR, TYPE_TIME, 120.0},
        {"0:01 / 2", ACTION_DIVIDE, time_cell(60.0), int_cell(2), NO_ERROR, TYPE_TIME, 30.0},
        {"0:01 / 0:00:15", ACTION_DIVIDE, time_cell(60.0), time_cell(15.0), NO_ERROR, TYPE_FLOAT, 4.0},
        {"0:01 // 0:00:25", ACTION_REMAINDER, time_cell(60.0), time_cell(25.0), NO_ERROR, TYPE_TIME, 10.0},
        {"0:01 + 50%", ACTION_ADD, time_cell(60.0), percent_cell(0.5), NO_ERROR, TYPE_TIME, 60.5},
        {"2 + 0:00:01 (the integer core)", ACTION_ADD, int_cell(2), time_cell(1.0), NO_ERROR, TYPE_TIME, 3.0},
        {"10.0 + 0:00:05", ACTION_ADD, float_cell(10.0), time_cell(5.0), NO_ERROR, TYPE_TIME, 15.0},
        {"0:01 * 0:01", ACTION_MULTIPLY, time_cell(60.0), time_cell(60.0), code(err::script_not_related), TYPE_NONE,
         0},
        {"0:01 - date", ACTION_SUBTRACT, time_cell(60.0), cell{TYPE_DATE, 0, 0, 0}, code(err::script_not_related),
         TYPE_NONE, 0},
        {"0:01 + #\"A\"", ACTION_ADD, time_cell(60.0), cell{TYPE_CHAR, 0, 'A', 0}, code(err::script_invalid_type),
         TYPE_NONE, 0},
        {"0:01 + none", ACTION_ADD, time_cell(60.0), none_cell, code(err::script_invalid_type), TYPE_NONE, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::script_not_related)) { EXPECT_EQ(o.arg2.w1, TYPE_TIME); }
        if (r.error != NO_ERROR) continue;
        EXPECT_EQ(o.value.type(), r.type);
        EXPECT_EQ(float_::get(&o.value), r.value);
    }
}

struct date_call {
    int op = -1;
    cell left{}, right{};
} last_date_call;
cell* recording_date_core(int op) {
    last_date_call = {op, *stack::argument(0), *stack::argument(1)};
    return stack::argument(0);
}

TEST_F(Time, TimePlusDateIsDatePlusTime) {
    integer::math_core saved = integer::math_core_of(TYPE_DATE);
    integer::register_math_core(TYPE_DATE, &recording_date_core);
    outcome o = call_simple(ACTION_ADD, time_cell(90.0), cell{TYPE_DATE, 1, 2, 3});
    EXPECT_EQ(o.error, NO_ERROR);
    EXPECT_EQ(last_date_call.op, integer::OP_ADD);
    EXPECT_EQ(last_date_call.left.type(), TYPE_DATE);
    EXPECT_EQ(last_date_call.right.type(), TYPE_TIME);
    EXPECT_EQ(float_::get(&last_date_call.right), 90.0);
    integer::register_math_core(TYPE_DATE, saved);
}

TEST_F(Time, RoundKeepsTime) {
    auto round = handler_of<ACTION_ROUND>(TYPE_TIME);
    const struct {
        const char* what;
        double seconds;
        cell scale;  // none: no /to
        bool down;
        int error;
        double result;
    } rows[] = {
        {"round 0:00:02.5", 2.5, none_cell, false, NO_ERROR, 3.0},
        {"round/down 0:00:02.5", 2.5, none_cell, true, NO_ERROR, 2.0},
        {"round/to 1:02:31 60", 3751.0, int_cell(60), false, NO_ERROR, 3780.0},
        {"round/to 1:02:29 0:01", 3749.0, time_cell(60.0), false, NO_ERROR, 3720.0},
        {"round/to 1:02:29 1.5", 3749.0, float_cell(1.5), false, NO_ERROR, 3748.5},
        // An integer scale need not give a 32-bit number: the result stays seconds.
        {"round/to 1e12 seconds 60", 1e12 + 31.0, int_cell(60), false, NO_ERROR, 1000000000020.0},
        {"round/to money", 1.0, cell{TYPE_MONEY, 0, 0, 0}, false, code(err::script_not_related), 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = run([&] {
            cell* v = stack::push_copy(&static_cast<const cell&>(time_cell(r.seconds)));
            cell* s = r.scale.is(TYPE_NONE) ? nullptr : stack::push_copy(&r.scale);
            return round(v, s, false, r.down, false, false, false, false);
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::script_not_related)) { EXPECT_EQ(o.arg2.w1, TYPE_MONEY); }
        if (r.error != NO_ERROR) continue;
        EXPECT_EQ(o.value.type(), TYPE_TIME);
        EXPECT_EQ(float_::get(&o.value), r.result);
    }
}

TEST_F(Time, ParityOfTheWholeSeconds) {
    auto even = handler_of<ACTION_EVEN_Q>(TYPE_TIME);
    auto odd = handler_of<ACTION_ODD_Q>(TYPE_TIME);
    const struct {
        double seconds;
        int even;
    } rows[] = {
        {3602.0, 1},       // 1:00:02
        {3603.5, 0},       // 1:00:03.5
        {2.9999999, 0},    // nudged to 3
        {-3.0, 0},
        {-4.2, 1},
        {60.0, 1},
        {3600.0 * 1e9 + 1.0, 0},
    };
    for (const auto& r : rows) {
        cell t = time_cell(r.seconds);
        EXPECT_EQ(even(&t), r.even) << r.seconds;
        EXPECT_EQ(odd(&t), 1 - r.even) << r.seconds;
    }
    for (double v : {INF, NAN_VALUE}) {
        cell t = time_cell(v);
        EXPECT_EQ(testing::raised_code([&] { even(&t); }), code(err::math_overflow));
    }
}

TEST_F(Time, SlotsInheritedFromFloatOrRefused) {
    for (action a : {ACTION_RANDOM, ACTION_COMPARE, ACTION_ABSOLUTE, ACTION_NEGATE, ACTION_REMAINDER}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_TIME, a), type_registry::handler_of(TYPE_FLOAT, a)) << a;
        EXPECT_NE(type_registry::handler_of(TYPE_TIME, a), nullptr);
    }
    for (action a : {ACTION_REFLECT, ACTION_SET_PATH, ACTION_POWER, ACTION_AND_T, ACTION_COMPLEMENT, ACTION_APPEND,
                     ACTION_NEXT, ACTION_POKE, ACTION_WRITE}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_TIME, a), nullptr) << a;
    }
    // Near-equality for =, exactness for ==.
    cell a = time_cell(0.1 + 0.2), b = time_cell(0.3);
    EXPECT_TRUE(actions::compare(&a, &b, 0));
    EXPECT_FALSE(actions::compare(&a, &b, 2));
}

TEST_F(Time, Builders) {
    cell* pushed = time::push(-1.5);
    EXPECT_EQ(pushed->type(), TYPE_TIME);
    EXPECT_EQ(pushed->w1, 0u);
    EXPECT_EQ(float_::get(pushed), -1.5);
    cell c{TYPE_INTEGER, 9, 9, 9};
    EXPECT_EQ(time::set_cell(2.0, &c), &c);
    EXPECT_EQ(c.type(), TYPE_TIME);
    EXPECT_EQ(c.w1, 0u);
    cell* b = stack::push_slot();
    block::make_in(b, 2);
    uint64_t bits = std::bit_cast<uint64_t>(3723.5);
    time::append_to_block(static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), b);
    EXPECT_EQ(float_::get(block::get_cell(b, 0)), 3723.5);
    EXPECT_EQ(block::get_cell(b, 0)->type(), TYPE_TIME);
}

// The setter changes the cell it is given and nothing else: storing the changed time
// where the path found it, and telling its container, is the path walk's work (the
// script test path-set covers both).
int on_change_calls = 0;
void counting_on_change(cell*, cell*, cell*, cell*) { ++on_change_calls; }

TEST_F(Time, ThePathSetterOnlyChangesTheCell) {
    context::on_change_handler saved = context::fire_on_change;
    context::fire_on_change = &counting_on_change;
    on_change_calls = 0;
    cell* object = stack::push_copy(&static_cast<const cell&>(cell{TYPE_OBJECT, 0, 0, 0}));
    cell* field = push_word("start");
    cell* t = stack::push_copy(&static_cast<const cell&>(time_cell(4220.0)));
    cell* minute = push_word("minute");
    cell* value = stack::push_copy(&static_cast<const cell&>(int_cell(75)));
    auto eval_path = handler_of<ACTION_EVAL_PATH>(TYPE_TIME);
    cell* top = stack::state.args_top;
    for (bool in_place : {false, true}) {
        time::set_cell(4220.0, t);
        eval_path(t, minute, value, nullptr, object, field, 2, 0, false, true, in_place);
        EXPECT_EQ(seconds_of(*t), 8120.0);
        EXPECT_EQ(on_change_calls, 0);
        EXPECT_EQ(stack::state.args_top, top);
    }
    context::fire_on_change = saved;
}

}  // namespace
}  // namespace zor
