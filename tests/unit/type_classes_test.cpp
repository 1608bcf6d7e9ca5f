// The type-class table agrees with the named typesets that the natives' type tests and the
// boot environment use: a type added to one and not the other would make the runtime's
// own tests and the language's typesets disagree.
#include <gtest/gtest.h>

#include "runtime/datatypes/typeset.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/value/type-classes.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

TEST(TypeClasses, MatchTheNamedTypesetsForEveryRegisteredType) {
    testing::ensure_runtime();
    struct named_class {
        type_classes::type_class bit;
        const char* typeset;
    };
    const named_class classes[] = {
        {type_classes::ANY_WORD, "any-word!"},         {type_classes::ALL_WORD, "all-word!"},
        {type_classes::ANY_LIST, "any-list!"},         {type_classes::ANY_PATH, "any-path!"},
        {type_classes::ANY_BLOCK, "any-block!"},       {type_classes::ANY_STRING, "any-string!"},
        {type_classes::SERIES, "series!"},             {type_classes::ANY_FUNCTION, "any-function!"},
        {type_classes::ANY_OBJECT, "any-object!"},     {type_classes::NUMBER, "number!"},
        {type_classes::ANY_POINT, "any-point!"},       {type_classes::SCALAR, "scalar!"},
    };
    for (const named_class& c : classes) {
        SCOPED_TRACE(c.typeset);
        cell members;
        ASSERT_TRUE(natives::named_typeset(c.typeset, &members));
        for (int t = 1; t <= type_registry::max_type_id; ++t) {
            const char* name = type_registry::type_entries[t].name;
            EXPECT_EQ(type_classes::is(static_cast<type_id>(t), c.bit), typeset::has(&members, t)) << (name ? name : "?");
        }
    }
    // Ids beyond the table belong to no class.
    EXPECT_FALSE(type_classes::is(static_cast<type_id>(200), type_classes::SERIES));
}

}  // namespace
}  // namespace zor
