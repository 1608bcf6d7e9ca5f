// error!: errors made by the runtime and by make, the catalogue objects they are read
// from, the error report, the call trail and the argument words of expect-arg.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue-objects.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::formed;
using testing::molded;
using testing::raise_of;

class Errors : public testing::stack_fixture {
protected:
    void TearDown() override {
        cell none_value = none::value;
        error::set_settings(&none_value);
        stack_fixture::TearDown();
    }
    cell* word(const char* name) { return word::push_global(symbol::make(name)); }
    cell* text(const std::string& s) { return stack::push_copy(block::get_cell(code("\"" + s + "\""), 0)); }
    cell* make(cell* spec) { return testing::handler_for<ACTION_MAKE>(TYPE_ERROR)(datatype::push(TYPE_ERROR), spec, TYPE_ERROR); }
    std::string field(cell* e, error::field f) { return molded(error::field_of(e, f)); }
    // The report and the budget it leaves from a large one.
    struct report {
        std::string text;
        int64_t spent;
    };
    report report_of(cell* e) {
        cell* held = stack::push_copy(e);
        cell* output = string::push_empty();
        int left = error::form_report(held, output, nullptr, 1000000);
        return {string::to_utf8(output), 1000000 - int64_t(left)};
    }
    int64_t characters(const std::string& utf8) {
        int64_t n = 0;
        for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
        return n;
    }
    // The settings object with a trace depth (and a source files block).
    void trace(int depth, const char* files = nullptr) {
        cell* settings = object::construct(code("interpreted?: 0 last-error: 0 stack-trace: 0 source-files: 0"),
                                           nullptr, false);
        integer::make_in(context::value_at(settings->w1, 2), depth);
        if (files) *context::value_at(settings->w1, 3) = *code(files);
        error::set_settings(settings);
    }
};

TEST_F(Errors, TheRuntimeRaisesRealErrorObjects) {
    cell* arg = word("foo");
    auto raised = raise_of([&] { raise::throw_error(err::script_no_value, arg); });
    EXPECT_EQ(raised.code, 300);
    EXPECT_EQ(raised.arg1, "foo");
    cell* e = error::create(err::script_expect_arg, arg, datatype::push(TYPE_INTEGER), word("value"));
    EXPECT_TRUE(e->is(TYPE_ERROR));
    EXPECT_EQ(static_cast<int32_t>(e->w2), 1) << "class id";
    EXPECT_EQ(field(e, error::FIELD_CODE), "305");
    EXPECT_EQ(field(e, error::FIELD_TYPE), "script");
    EXPECT_EQ(field(e, error::FIELD_ID), "expect-arg");
    EXPECT_EQ(field(e, error::FIELD_ARG3), "value");
    EXPECT_EQ(error::get_type_symbol(e), symbol::make("script"));
    EXPECT_EQ(error::get_id_symbol(e), symbol::make("expect-arg"));
    // The type word is the catalogue's key word, so it names the category object.
    EXPECT_EQ(error::field_of(e, error::FIELD_TYPE)->w1, error_catalogue_objects::errors()->w1);
    cell* id = word("id");
    EXPECT_EQ(molded(object::eval_path(e, id, nullptr, nullptr, nullptr, nullptr, 1, 0, false, true, false)),
              "expect-arg");
    // Every catalogue entry makes an error of its code, type and id.
    for (int c = 0; c < error_catalogue::CATEGORY_COUNT; ++c) {
        for (int i = 2; error_catalogue::id_at(c, i); ++i) {
            err entry = static_cast<err>((c << 8) | i);
            cell* made = error::create(entry, nullptr, nullptr, nullptr);
            EXPECT_EQ(error::code_of(made), c * 100 + i - 2);
            EXPECT_EQ(field(made, error::FIELD_TYPE), error_catalogue::category(c).name);
            EXPECT_EQ(field(made, error::FIELD_ID), error_catalogue::id_at(c, i)->name);
            EXPECT_EQ(field(made, error::FIELD_ARG1), "none");
            stack::drop_slots(1);
        }
    }
}

TEST_F(Errors, TheCatalogueObjects) {
    cell* errors = error_catalogue_objects::errors();
    EXPECT_EQ(molded(object::reflect(errors, symbols::words)),
              "[throw note syntax script math access reserved1 reserved2 user internal]");
    EXPECT_EQ(molded(object::reflect(error_catalogue_objects::category(6), symbols::words)), "[code type]");
    EXPECT_EQ(molded(object::reflect(error_catalogue_objects::category(6), symbols::values)),
              "[600 \"Reserved1 Error\"]");
    cell* script = stack::push_copy(error_catalogue_objects::category(3));
    EXPECT_EQ(molded(object::field_value(script, word("no-value"))), "[:arg1 \"has no value\"]");
    EXPECT_EQ(formed(object::field_value(script, word("bad-op-spec"))),
              "making an op! requires a function with only 2 arguments and no lit/get-word on left argument");
    cell* user = stack::push_copy(error_catalogue_objects::category(8));
    EXPECT_TRUE(object::field_value(user, word("message"))->is(TYPE_WORD));
    cell* internal = stack::push_copy(error_catalogue_objects::category(9));
    EXPECT_EQ(molded(object::field_value(internal, word("deprecated"))),
              "[arg1 \"is DEPRECATED, please use\" arg2 \"instead\"]");
    EXPECT_EQ(molded(error_catalogue_objects::standard_error()),
              "make object! [\n    code: none\n    type: none\n    id: none\n    arg1: none\n    arg2: none\n"
              "    arg3: none\n    near: none\n    where: none\n    stack: none\n    files: none\n]");
}

TEST_F(Errors, MakeError) {
    struct row {
        const char* what;
        std::function<cell*()> spec;
        int code;          // the error made, or
        err raised;        // the error raised when code is -1
        const char* arg1;  // of the raised error
    };
    std::vector<row> rows = {
        {"300", [&] { return integer::push(300); }, 300, {}, ""},
        {"902", [&] { return integer::push(902); }, 902, {}, ""},
        {"[script no-value]", [&] { return code("script no-value"); }, 300, {}, ""},
        {"[math overflow]", [&] { return code("math overflow"); }, 401, {}, ""},
        {"1000", [&] { return integer::push(1000); }, -1, err::script_out_of_range, "1000"},
        {"-1", [&] { return integer::push(-1); }, -1, err::script_out_of_range, "-1"},
        {"600 (no ids)", [&] { return integer::push(600); }, -1, err::script_out_of_range, "600"},
        {"399", [&] { return integer::push(399); }, -1, err::script_out_of_range, "399"},
        {"[script]", [&] { return code("script"); }, -1, err::script_invalid_spec_field, "id"},
        {"[nothing here]", [&] { return code("nothing here"); }, -1, err::script_invalid_spec_field, "type"},
        {"[script nothing]", [&] { return code("script nothing"); }, -1, err::script_invalid_spec_field, "id"},
        {"[script code]", [&] { return code("script code"); }, -1, err::script_invalid_spec_field, "id"},
        {"[script 5]", [&] { return code("script 5"); }, -1, err::script_invalid_arg, "5"},
        {"[1 2]", [&] { return code("1 2"); }, -1, err::internal_invalid_error, "none"},
        {"[]", [&] { return code(""); }, -1, err::internal_invalid_error, "none"},
        {"1.5", [&] { return code("1.5"); }, -1, err::script_bad_make_arg, "error!"},
        {"[type: 'math id: 'zero-divide]", [&] { return code("type: 'math id: 'zero-divide"); }, 400, {}, ""},
        {"[type: 'math id: 'nothing]", [&] { return code("type: 'math id: 'nothing"); }, -1,
         err::script_invalid_spec_field, "id"},
        {"[arg1: 5]", [&] { return code("arg1: 5"); }, -1, err::script_invalid_spec_field, "type"},
    };
    for (const row& r : rows) {
        cell* made = nullptr;
        auto raised = raise_of([&] {
            cell* spec = r.spec();
            if (std::string(r.what) == "1.5") *spec = *block::get_cell(spec, 0);
            made = make(spec);
        });
        if (r.code >= 0) {
            EXPECT_EQ(raised.code, -1) << r.what;
            ASSERT_NE(made, nullptr) << r.what;
            EXPECT_TRUE(made->is(TYPE_ERROR));
            EXPECT_EQ(error::code_of(made), r.code) << r.what;
        } else {
            EXPECT_EQ(raised.code, code_of(r.raised)) << r.what;
            EXPECT_EQ(raised.arg1, r.arg1) << r.what;
        }
    }
    cell* made = make(integer::push(300));
    EXPECT_EQ(field(made, error::FIELD_TYPE), "script");
    EXPECT_EQ(field(made, error::FIELD_ID), "no-value");
    cell* user = make(text("boom"));
    EXPECT_EQ(error::code_of(user), 800);
    EXPECT_EQ(field(user, error::FIELD_ARG1), "\"boom\"");
    EXPECT_EQ(report_of(user).text.substr(0, 20), "*** User Error: boom");
    cell* evaluated = make(code("type: ('math) id: 'overflow arg1: (7)"));
    EXPECT_EQ(error::code_of(evaluated), 401);
    EXPECT_EQ(field(evaluated, error::FIELD_ARG1), "7");
    cell* set_words = make(code("type: 'script id: 'invalid-arg arg1: 42"));
    EXPECT_EQ(error::code_of(set_words), 309);
    EXPECT_EQ(field(set_words, error::FIELD_ARG1), "42");
}

TEST_F(Errors, TheReportLayout) {
    cell* where = word("print");
    struct row {
        const char* what;
        std::function<cell*()> error;
        const char* report;
    };
    std::vector<row> rows = {
        {"a block template with a word argument",
         [&] { return error::create(err::script_no_value, word("foo"), nullptr, nullptr); },
         "*** Script Error: foo has no value\n*** Where: ???\n*** Near : unset"},
        {"a string template", [&] { return error::create(err::math_zero_divide, nullptr, nullptr, nullptr); },
         "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : unset"},
        {"molded arguments",
         [&] { return error::create(err::script_expect_arg, word("foo"), datatype::push(TYPE_INTEGER), word("x")); },
         "*** Script Error: foo does not allow integer! for its x argument\n*** Where: ???\n*** Near : unset"},
        {"a string argument is molded",
         [&] { return error::create(err::access_cannot_open, text("a b"), nullptr, nullptr); },
         "*** Access Error: cannot open: \"a b\"\n*** Where: ???\n*** Near : unset"},
        {"syntax errors form their arguments",
         [&] { return error::create(err::syntax_invalid, text("integer"), text("1x"), text("(line 1)")); },
         "*** Syntax Error: integer invalid 1x at (line 1)\n*** Where: ???\n*** Near : unset"},
        {"a where word, a near block on one line",
         [&] {
             cell* e = error::create(err::script_need_value, word("x"), nullptr, nullptr);
             error::set_where(e, where);
             *error::field_of(e, error::FIELD_NEAR) = *code("a: 1 + [2]");
             return e;
         },
         "*** Script Error: x needs a value\n*** Where: print\n*** Near : a: 1 + [2]"},
        {"where a string, near cut at 40 characters",
         [&] {
             cell* e = error::create(err::script_need_value, word("x"), nullptr, nullptr);
             cell* w = text("somewhere");
             error::set_where(e, w);
             *error::field_of(e, error::FIELD_NEAR) =
                 *code("alpha beta gamma delta epsilon zeta eta theta iota kappa");
             return e;
         },
         "*** Script Error: x needs a value\n*** Where: somewhere\n*** Near : alpha beta gamma delta epsilon zeta eta "},
        {"a where integer",
         [&] {
             cell* e = error::create(err::script_need_value, word("x"), nullptr, nullptr);
             error::set_where(e, integer::push(5));
             return e;
         },
         "*** Script Error: x needs a value\n*** Where: ???\n*** Near : unset"},
        {"a user error's message is its arg1",
         [&] { return error::create(err::user_message, text("custom"), nullptr, nullptr); },
         "*** User Error: custom\n*** Where: ???\n*** Near : unset"},
        {"a type that is no category",
         [&] {
             cell* e = error::create(err::script_no_value, word("foo"), nullptr, nullptr);
             *error::field_of(e, error::FIELD_TYPE) = *word("bogus");
             return e;
         },
         "*** Internal Error: invalid error object field value: bogus\n*** Where: ???\n*** Near : unset"},
        {"an id that is not in the category",
         [&] {
             cell* e = error::create(err::script_no_value, word("foo"), nullptr, nullptr);
             *error::field_of(e, error::FIELD_ID) = *word("bogus-id");
             return e;
         },
         "*** Internal Error: invalid error object field value: bogus-id\n*** Where: ???\n*** Near : unset"},
        {"a files block",
         [&] {
             cell* e = error::create(err::math_overflow, nullptr, nullptr, nullptr);
             *error::field_of(e, error::FIELD_FILES) = *code("\"a.zor\" \"b.zor\"");
             return e;
         },
         "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : unset\n*** Files: \"a.zor\" \"b.zor\""},
    };
    for (const row& r : rows) {
        cell* e = r.error();
        report result = report_of(e);
        EXPECT_EQ(result.text, r.report) << r.what;
        EXPECT_EQ(result.spent, characters(result.text)) << r.what << ": the budget counts what was written";
    }
    // The rewritten error keeps its new fields.
    cell* e = error::create(err::script_no_value, word("foo"), nullptr, nullptr);
    *error::field_of(e, error::FIELD_TYPE) = *word("bogus");
    report_of(e);
    EXPECT_EQ(field(e, error::FIELD_TYPE), "internal");
    EXPECT_EQ(field(e, error::FIELD_ID), "invalid-error");
    EXPECT_EQ(field(e, error::FIELD_ARG1), "bogus");
    EXPECT_EQ(error::code_of(e), 910);
}

TEST_F(Errors, EveryMessageCountsTheCharactersItWrites) {
    // Long arguments: each is cut at 80 characters, and the budget follows the text.
    std::string long_text(200, 'x');
    for (int c = 0; c < error_catalogue::CATEGORY_COUNT; ++c) {
        for (int i = 2; error_catalogue::id_at(c, i); ++i) {
            err entry = static_cast<err>((c << 8) | i);
            cell* e = error::create(entry, text(long_text), code("a b c"), integer::push(-7));
            report result = report_of(e);
            EXPECT_EQ(result.spent, characters(result.text)) << error_catalogue::id_at(c, i)->name;
            if (error_catalogue::id_at(c, i)->kind == error_catalogue::template_kind::block) {
                EXPECT_EQ(result.text.find(std::string(81, 'x')), std::string::npos) << error_catalogue::id_at(c, i)->name;
            }
            stack::state.args_top = e;
        }
    }
    cell* e = error::create(err::script_invalid_arg, text(long_text), nullptr, nullptr);
    // (A long string molds in braces.)
    std::string expected = "*** Script Error: invalid argument: {" + std::string(79, 'x') + "\n*** Where: ???\n*** Near : ";
    EXPECT_EQ(report_of(e).text.substr(0, expected.size()), expected);
}

TEST_F(Errors, ChangedTemplatesAreWhatTheReportShows) {
    // The catalogue objects are the catalogue: a changed template changes the report.
    cell* math = stack::push_copy(error_catalogue_objects::category(4));
    cell* name = word("overflow");
    cell* saved = stack::push_copy(object::field_value(math, name));
    cell* replacement = text("too big");
    object::eval_path(math, name, replacement, nullptr, nullptr, nullptr, 1, 0, false, true, false);
    cell* e = error::create(err::math_overflow, nullptr, nullptr, nullptr);
    EXPECT_EQ(report_of(e).text.substr(0, 27), "*** Math Error: too big\n***");
    object::eval_path(math, name, saved, nullptr, nullptr, nullptr, 1, 0, false, true, false);
    // A template that is no text at all: no message, and the error names its category.
    cell* odd = integer::push(12);
    object::eval_path(math, name, odd, nullptr, nullptr, nullptr, 1, 0, false, true, false);
    e = error::create(err::math_overflow, nullptr, nullptr, nullptr);
    EXPECT_EQ(report_of(e).text, "*** Math Error: \n*** Where: ???\n*** Near : unset");
    EXPECT_EQ(field(e, error::FIELD_ARG1), "math");
    object::eval_path(math, name, saved, nullptr, nullptr, nullptr, 1, 0, false, true, false);
}

TEST_F(Errors, MoldCompareAndCopy) {
    cell* e = error::create(err::script_no_value, word("foo"), nullptr, nullptr);
    std::string text = molded(e);
    EXPECT_EQ(text.substr(0, 63), "make error! [\n    code: 300\n    type: 'script\n    id: 'no-value");
    EXPECT_EQ(text.substr(text.size() - 2), "\n]");
    cell* output = string::push_empty();
    actions::dispatch_mold(e, output, false, false, true, nullptr, 0, 0);
    EXPECT_EQ(string::to_utf8(output).substr(0, 61), "make error! [code: 300 type: 'script id: 'no-value arg1: 'foo");
    cell* same = error::create(err::script_no_value, word("foo"), nullptr, nullptr);
    EXPECT_EQ(actions::dispatch_compare(e, same, 0), 0);
    EXPECT_EQ(actions::dispatch_compare(e, same, 9), -1);
    cell* other = error::create(err::script_need_value, word("foo"), nullptr, nullptr);
    EXPECT_NE(actions::dispatch_compare(e, other, 0), 0);
    cell* plain = object::construct(code("a: 1"), nullptr, false);
    EXPECT_EQ(actions::dispatch_compare(e, plain, 0), -2);
    cell* copy = stack::push_slot();
    actions::handler<ACTION_COPY>(e)(e, copy, nullptr, false, nullptr);
    EXPECT_TRUE(copy->is(TYPE_ERROR)) << "a copy keeps the type";
    EXPECT_EQ(static_cast<int32_t>(copy->w2), 1);
    EXPECT_EQ(error::code_of(copy), 300);
}

TEST_F(Errors, TheCallTrail) {
    // Frames named by words; detail 2 lists every frame.
    cell* alpha = word("alpha");
    cell* beta = word("beta");
    stack::push_call_frame(alpha);
    stack::push_try_frame();  // no word: never listed
    stack::push_call_frame(beta);
    cell* e = error::create(err::math_overflow, nullptr, nullptr, nullptr);
    error::record_stack_level(e, stack::frame_depth());
    trace(2, "\"x.zor\"");
    EXPECT_EQ(report_of(e).text,
              "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : unset\n*** Stack: alpha beta ");
    // Detail 1 lists only the frames whose word names a function.
    cell* function = function::make(nullptr, code("[] []"), TYPE_FUNCTION);
    word::set_value(beta, function);
    trace(1, "\"x.zor\"");
    EXPECT_EQ(report_of(e).text.substr(report_of(e).text.find("*** Stack")), "*** Stack: beta ");
    error::capture_stack(e);
    EXPECT_EQ(field(e, error::FIELD_STACK), "[beta]");
    EXPECT_EQ(field(e, error::FIELD_FILES), "[\"x.zor\"]");
    EXPECT_EQ(report_of(e).text.substr(report_of(e).text.find("*** Stack")),
              "*** Stack: beta\n*** Files: \"x.zor\"");
    // A level recorded once stays; a captured block is not replaced.
    error::record_stack_level(e, 1);
    EXPECT_EQ(field(e, error::FIELD_STACK), "[beta]");
    // No trace depth, no stack line.
    trace(0);
    EXPECT_EQ(report_of(e).text.find("*** Stack"), std::string::npos);
    // where is set once.
    error::set_where(e, alpha);
    error::set_where(e, beta);
    EXPECT_EQ(field(e, error::FIELD_WHERE), "alpha");
}

TEST_F(Errors, TheArgumentWordOfTheCurrentFunction) {
    cell* f = word("error-test-function");
    cell* function = function::make(nullptr, code("[a 'b :c /d e] []"), TYPE_FUNCTION);
    word::set_value(f, function);
    std::string anon = "<anon>";
    cell first = error::get_argument_word(0);
    EXPECT_EQ(molded(&first), anon) << "no frame";
    stack::push_function_frame(f, 0);
    stack::push_block_frame();  // <body> frames are passed over
    const char* expected[] = {"a", "'b", ":c", "/d", "e", "<anon>", "<anon>"};
    for (int n = 0; n < 7; ++n) {
        cell w = error::get_argument_word(n);
        EXPECT_EQ(molded(&w), expected[n]) << n;
    }
    cell w = error::get_argument_word(-1);
    EXPECT_EQ(molded(&w), anon);
    // A frame word whose value is no callable.
    cell* g = word("error-test-not-a-function");
    word::set_value(g, integer::push(1));
    stack::push_call_frame(g);
    w = error::get_argument_word(0);
    EXPECT_EQ(molded(&w), anon);
    // expect-arg names the argument through it.
    stack::pop_frame();
    cell* value = text("s");
    cell typeset{TYPE_TYPESET, 0, 0, 0};
    auto raised = raise_of([&] { raise::check_arg_type(&typeset, 1, value); });
    EXPECT_EQ(raised.code, code_of(err::script_expect_arg));
}

}  // namespace
}  // namespace zor
