// Output hooks: the two hook lists (growth, order, removal, calls) and the default
// console printer, whose output is captured from standard output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/console-output.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/output-hooks.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

// What the recording hooks saw, in call order.
std::vector<std::string> calls;

void hook_a(const cell* s, bool newline) { calls.push_back("a:" + string::to_utf8(s) + (newline ? "|nl" : "")); }
void hook_b(const cell* s, bool newline) { calls.push_back("b:" + string::to_utf8(s) + (newline ? "|nl" : "")); }
void hook_c(const cell*, bool) { calls.push_back("c"); }
void hook_d(const cell*, bool) { calls.push_back("d"); }
void hook_e(const cell*, bool) { calls.push_back("e"); }
void text_x(const void* text, size_t length, int flag) {
    calls.push_back("x:" + std::string(static_cast<const char*>(text), length) + "/" + std::to_string(flag));
}
void text_y(const void*, size_t length, int) { calls.push_back("y:" + std::to_string(length)); }

// Runs the body with standard output going to a temporary file; answers what it wrote.
template <typename Body> std::string capture_stdout(Body body) {
    platform::flush_output();
    std::fflush(stdout);
    int saved = ::dup(STDOUT_FILENO);
    std::FILE* file = std::tmpfile();
    ::dup2(::fileno(file), STDOUT_FILENO);
    body();
    platform::flush_output();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string out;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) out += static_cast<char>(c);
    std::fclose(file);
    return out;
}

class OutputHooks : public ::testing::Test {
protected:
    // Every test starts from the list as start-up left it (the runtime isolation listener
    // puts it back after each test).
    void SetUp() override {
        calls.clear();
        saved_.clear();
        for (int i = 0; i < output_hooks::value_hook_count(); ++i) saved_.push_back(output_hooks::value_hook_at(i));
        text_count_ = output_hooks::text_hook_count();
    }

    static std::vector<output_hooks::value_hook> values() {
        std::vector<output_hooks::value_hook> v;
        for (int i = 0; i < output_hooks::value_hook_count(); ++i) v.push_back(output_hooks::value_hook_at(i));
        return v;
    }
    static bool contains(output_hooks::value_hook h) {
        for (auto v : values()) {
            if (v == h) return true;
        }
        return false;
    }
    // A string! on the stack holding the text.
    static cell* text(const char* s) {
        cell* c = string::push_empty();
        string::append_c_string(c, s);
        return c;
    }

    std::vector<output_hooks::value_hook> saved_;
    int text_count_ = 0;
};

TEST_F(OutputHooks, StartUpInstallsTheConsolePrinterAlone) {
    EXPECT_TRUE(output_hooks::ready());
    ASSERT_EQ(saved_.size(), 1u);
    EXPECT_EQ(saved_[0], &output_hooks::print_to_console);
    EXPECT_EQ(text_count_, 0);
    // Capacities grow in steps of five from five.
    EXPECT_GE(output_hooks::value_hook_capacity(), 5);
    EXPECT_EQ(output_hooks::value_hook_capacity() % 5, 0);
}

TEST_F(OutputHooks, TheSixthHookGrowsTheListByFiveAndKeepsTheOrder) {
    // Fresh lists, as start-up makes them (an earlier test may have grown these).
    output_hooks::init();
    ASSERT_EQ(values(), saved_);
    ASSERT_EQ(output_hooks::value_hook_capacity(), 5);
    const output_hooks::value_hook added[] = {hook_a, hook_b, hook_c, hook_d, hook_e};
    const struct {
        int count, capacity;
    } after[] = {{2, 5}, {3, 5}, {4, 5}, {5, 5}, {6, 10}};
    for (int i = 0; i < 5; ++i) {
        output_hooks::add(added[i], nullptr);
        EXPECT_EQ(output_hooks::value_hook_count(), after[i].count);
        EXPECT_EQ(output_hooks::value_hook_capacity(), after[i].capacity);
    }
    std::vector<output_hooks::value_hook> expected{&output_hooks::print_to_console, hook_a, hook_b,
                                                   hook_c,                          hook_d, hook_e};
    EXPECT_EQ(values(), expected);
}

TEST_F(OutputHooks, RemovalTakesTheFirstMatchOnly) {
    output_hooks::add(hook_a, nullptr);
    output_hooks::add(hook_b, nullptr);
    output_hooks::add(hook_a, nullptr);
    // Not registered: nothing changes.
    output_hooks::remove(hook_c, nullptr);
    std::vector<output_hooks::value_hook> expected{&output_hooks::print_to_console, hook_a, hook_b, hook_a};
    EXPECT_EQ(values(), expected);
    // The first of the two equal entries goes; the second keeps its place after hook_b.
    output_hooks::remove(hook_a, nullptr);
    expected = {&output_hooks::print_to_console, hook_b, hook_a};
    EXPECT_EQ(values(), expected);
    // Null removes nothing from its list.
    output_hooks::remove(nullptr, nullptr);
    EXPECT_EQ(values(), expected);
}

TEST_F(OutputHooks, ValueHooksAreCalledInListOrder) {
    // The console printer steps out of the way so that only the recorders run.
    output_hooks::remove(&output_hooks::print_to_console, nullptr);
    output_hooks::add(hook_b, nullptr);
    output_hooks::add(hook_a, nullptr);
    output_hooks::add(hook_b, nullptr);
    cell* s = text("hi");
    output_hooks::call_value_hooks(s, true);
    output_hooks::call_value_hooks(s, false);
    std::vector<std::string> expected{"b:hi|nl", "a:hi|nl", "b:hi|nl", "b:hi", "a:hi", "b:hi"};
    EXPECT_EQ(calls, expected);

    // Put the printer back in front, where TearDown expects it.
    for (int i = 0; i < 3; ++i) output_hooks::remove(hook_a, nullptr), output_hooks::remove(hook_b, nullptr);
    output_hooks::add(&output_hooks::print_to_console, nullptr);
}

TEST_F(OutputHooks, TextHooksSeeEveryConsoleWrite) {
    output_hooks::add(nullptr, text_x);
    output_hooks::add(nullptr, text_y);
    for (int i = 0; i < 5; ++i) output_hooks::add(nullptr, text_y);  // past the first capacity
    EXPECT_EQ(output_hooks::text_hook_count(), 7);
    output_hooks::call_text_hooks("abc", 3, 2);
    EXPECT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0], "x:abc/2");
    EXPECT_EQ(calls[1], "y:3");
    for (int i = 0; i < 5; ++i) output_hooks::remove(nullptr, text_y);
    calls.clear();

    // The console printers report the units they write.
    std::string out = capture_stdout([] {
        const uint8_t latin[] = {'o', 'k'};
        platform::print_latin1_line(latin, 2);
    });
    EXPECT_EQ(out, "ok\n");
    std::vector<std::string> expected{"x:ok/0", "y:2"};
    EXPECT_EQ(calls, expected);
}

TEST_F(OutputHooks, ConsolePrinterWritesEachUnitWidthAsUtf8) {
    cell* latin = text("caf\xE9");  // Latin-1 e-acute
    cell* ucs2 = string::make_in_cell(stack::push_slot(), 8, 2);
    string::append_c_string(ucs2, "pi ");
    string::append_codepoint(ucs2, 0x03C0);
    cell* ucs4 = string::make_in_cell(stack::push_slot(), 8, 4);
    string::append_c_string(ucs4, "smile ");
    string::append_codepoint(ucs4, 0x1F600);
    cell* moved = text("abcdef");
    moved->w1 = 2;
    cell* at_tail = text("abc");
    at_tail->w1 = 3;
    cell* past_tail = text("abc");
    past_tail->w1 = 9;  // printers clamp the index to the tail
    const struct {
        cell* string;
        const char* plain;
        const char* line;
    } rows[] = {
        {latin, "caf\xC3\xA9", "caf\xC3\xA9\n"},
        {ucs2, "pi \xCF\x80", "pi \xCF\x80\n"},
        {ucs4, "smile \xF0\x9F\x98\x80", "smile \xF0\x9F\x98\x80\n"},
        {moved, "cdef", "cdef\n"},
        {at_tail, "", "\n"},
        {past_tail, "", "\n"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(capture_stdout([&] { output_hooks::print_to_console(r.string, false); }), r.plain);
        EXPECT_EQ(capture_stdout([&] { output_hooks::print_to_console(r.string, true); }), r.line);
    }
}

TEST_F(OutputHooks, ConsolePrinterReportsAnUnknownUnitWidth) {
    // A series of 16-byte units is not text: the printer says so instead of guessing.
    cell* odd = stack::push_slot();
    cell::init_unset(odd);
    odd->w2 = memory::alloc_series(2, 16, 0);
    memory::series_buffer* b = memory::buffer_of(odd->w2);
    b->tail = b->head + 16;
    odd->header = TYPE_STRING;
    for (bool newline : {false, true}) {
        EXPECT_EQ(capture_stdout([&] { output_hooks::print_to_console(odd, newline); }),
                  "Error: unknown string encoding: 16\n");
    }
}

TEST_F(OutputHooks, PrintingGoesThroughTheValueHooks) {
    output_hooks::add(hook_a, nullptr);
    cell* s = text("hello");
    std::string out = capture_stdout([&] { output_hooks::call_value_hooks(s, true); });
    EXPECT_EQ(out, "hello\n");
    std::vector<std::string> expected{"a:hello|nl"};
    EXPECT_EQ(calls, expected);
}

}  // namespace
}  // namespace zor
