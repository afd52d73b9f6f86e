// Value's text forms (what property-list numbers turn into), its containers, and Data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "cocos2d.h"

USING_NS_CC;

TEST(ValueTest, TextFormsOfScalars)
{
    EXPECT_EQ(Value(5).asString(), "5");
    EXPECT_EQ(Value(-17).asString(), "-17");
    EXPECT_EQ(Value(1.5f).asString(), "1.5000000");
    EXPECT_EQ(Value(0.1).asString(), "0.1000000");
    EXPECT_EQ(Value(-2.25).asString(), "-2.2500000");
    EXPECT_EQ(Value(1e10).asString(), "10000000000.0000000");
    EXPECT_EQ(Value(true).asString(), "true");
    EXPECT_EQ(Value(false).asString(), "false");
    EXPECT_EQ(Value("as is").asString(), "as is");
    EXPECT_EQ(Value().asString(), "");
    EXPECT_EQ(Value(ValueMap{{"a", Value(1)}}).asString(), "");
    EXPECT_EQ(Value(ValueVector{Value(1)}).asString(), "");
}

TEST(ValueTest, NumbersAndBooleansFromText)
{
    EXPECT_EQ(Value("12abc").asInt(), 12); // atoi
    EXPECT_EQ(Value("abc").asInt(), 0);
    EXPECT_EQ(Value(" 7").asInt(), 7);
    EXPECT_FLOAT_EQ(Value("2.5").asFloat(), 2.5f);
    EXPECT_DOUBLE_EQ(Value("2.5").asDouble(), 2.5);
    EXPECT_FALSE(Value("0").asBool());
    EXPECT_FALSE(Value("false").asBool());
    EXPECT_TRUE(Value("").asBool());
    EXPECT_TRUE(Value("no").asBool());
    EXPECT_TRUE(Value("FALSE").asBool());
    EXPECT_EQ(Value(3.9).asInt(), 3);
    EXPECT_EQ(Value(true).asInt(), 1);
    EXPECT_TRUE(Value(2).asBool());
}

TEST(ValueTest, NestedContainersCopyAndAssignSafely)
{
    ValueMap inner{{"n", Value(1)}, {"s", Value("x")}};
    ValueVector list{Value(inner), Value(2.0)};
    Value root(ValueMap{{"list", Value(list)}, {"flag", Value(true)}});

    Value copy = root;
    EXPECT_EQ(copy, root);
    copy.asValueMap()["flag"] = Value(false);
    EXPECT_NE(copy, root);
    EXPECT_TRUE(root.asValueMap().at("flag").asBool());

    // Assigning a value from inside itself.
    Value self = root;
    self = self.asValueMap().at("list");
    ASSERT_EQ(self.getType(), Value::Type::VECTOR);
    EXPECT_EQ(self.asValueVector().size(), 2u);
    EXPECT_EQ(self.asValueVector()[0].asValueMap().at("s").asString(), "x");
    Value moved = std::move(self);
    self = std::move(moved.asValueVector()[0]);
    EXPECT_EQ(self.getType(), Value::Type::MAP);

    // The const accessors of another type give an empty container.
    const Value number(4);
    EXPECT_TRUE(number.asValueMap().empty());
    EXPECT_TRUE(number.asValueVector().empty());
}

TEST(DataTest, OwnsItsBytes)
{
    Data d;
    EXPECT_TRUE(d.isNull());
    const unsigned char bytes[] = {1, 2, 3};
    d.copy(bytes, 3);
    EXPECT_FALSE(d.isNull());
    EXPECT_EQ(d.getSize(), 3);
    Data copy = d;
    EXPECT_NE(copy.getBytes(), d.getBytes());
    EXPECT_EQ(std::memcmp(copy.getBytes(), bytes, 3), 0);
    Data moved = std::move(copy);
    EXPECT_TRUE(copy.isNull());
    EXPECT_EQ(moved.getSize(), 3);

    auto* buf = static_cast<unsigned char*>(std::malloc(4));
    moved.fastSet(buf, 4);
    EXPECT_EQ(moved.getBytes(), buf);
    moved.clear();
    EXPECT_TRUE(moved.isNull());
    Data empty;
    empty.copy(bytes, 0);
    EXPECT_TRUE(empty.isNull());
}
