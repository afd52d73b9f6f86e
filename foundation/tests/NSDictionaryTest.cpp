// Property-list dictionaries: conversion of every value kind, key rules and ownership.
#include <gtest/gtest.h>

#include "NSDictionary.h"

USING_NS_CC;
using NSUI::NSDictionary;

namespace {

const char* kPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>a</key><integer>5</integer>
  <key>real</key><real>0.5</real>
  <key>yes</key><true/>
  <key>text</key><string>x &amp; y</string>
  <key>list</key><array><integer>1</integer><string>two</string><dict><key>k</key><string>v</string></dict></array>
  <key>inner</key><dict><key>name</key><string>deep</string></dict>
</dict>
</plist>)";

std::string textOf(Ref* object)
{
    auto* text = dynamic_cast<__String*>(object);
    return text ? text->_string : std::string("<not a string>");
}

// Autoreleased dictionaries go back at the end of each test, as at the end of a frame.
class NSDictionaryTest : public ::testing::Test {
protected:
    void TearDown() override { PoolManager::getInstance()->drainCurrentThread(); }
};

} // namespace

TEST_F(NSDictionaryTest, BuildsEveryValueKindFromAPropertyList)
{
    NSDictionary* dict = NSDictionary::createWithData(kPlist);
    ASSERT_NE(dict, nullptr);
    EXPECT_EQ(textOf(dict->objectForKey("a")), "5");
    EXPECT_EQ(textOf(dict->objectForKey("real")), "0.5000000");
    EXPECT_EQ(textOf(dict->objectForKey("yes")), "true");
    EXPECT_EQ(textOf(dict->objectForKey("text")), "x & y");

    auto* list = dynamic_cast<__Array*>(dict->objectForKey("list"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(textOf(list->getObjectAtIndex(0)), "1");
    EXPECT_EQ(textOf(list->getObjectAtIndex(1)), "two");
    auto* inList = dynamic_cast<NSDictionary*>(list->getObjectAtIndex(2));
    ASSERT_NE(inList, nullptr);
    EXPECT_EQ(textOf(inList->objectForKey("k")), "v");

    auto* inner = dynamic_cast<NSDictionary*>(dict->objectForKey("inner"));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(textOf(inner->objectForKey("name")), "deep");
    EXPECT_EQ(dict->objectForKey("missing"), nullptr);
    EXPECT_EQ(inner->getReferenceCount(), 1u);   // owned by its parent alone

    EXPECT_EQ(NSDictionary::createWithData("not a property list"), nullptr);
    EXPECT_EQ(NSDictionary::createWithData(""), nullptr);
}

TEST_F(NSDictionaryTest, KeysKeepTheirLast256Bytes)
{
    NSDictionary dict;
    EXPECT_EQ(dict.objectForKey("anything"), nullptr);

    std::string key;
    for (int i = 0; i < 300; ++i)
        key += static_cast<char>('a' + i % 26);
    auto* value = new __String("v");
    dict.setObject(value, key);
    EXPECT_EQ(dict.objectForKey(key), nullptr);
    EXPECT_EQ(dict.objectForKey(key.substr(300 - 256)), value);
    value->release();
}

TEST_F(NSDictionaryTest, ReplacingReleasesTheOldObjectOnce)
{
    auto* dict = new NSDictionary();
    auto* first = new __String("1");
    auto* second = new __String("2");

    dict->setObject(first, "k");
    EXPECT_EQ(first->getReferenceCount(), 2u);
    dict->setObject(first, "k");   // the same object again changes nothing
    EXPECT_EQ(first->getReferenceCount(), 2u);
    dict->setObject(second, "k");
    EXPECT_EQ(first->getReferenceCount(), 1u);
    EXPECT_EQ(second->getReferenceCount(), 2u);
    EXPECT_EQ(dict->objectForKey("k"), second);

    // The object being replaced may be the only owner of the new one: the new object must
    // survive the swap.
    auto* holder = new NSDictionary();
    auto* heldOnly = new __String("held");
    holder->setObject(heldOnly, "x");
    heldOnly->release();
    dict->setObject(holder, "h");
    holder->release();
    dict->setObject(heldOnly, "h");
    EXPECT_EQ(textOf(dict->objectForKey("h")), "held");
    EXPECT_EQ(heldOnly->getReferenceCount(), 1u);

    dict->release();
    EXPECT_EQ(first->getReferenceCount(), 1u);
    EXPECT_EQ(second->getReferenceCount(), 1u);
    first->release();
    second->release();
}

TEST_F(NSDictionaryTest, IntegerKeysAndCloning)
{
    auto* numbers = new NSDictionary();
    auto* v = new __String("seven");
    numbers->setObject(v, static_cast<intptr_t>(7));
    numbers->setObject(v, "text");   // the dictionary is integer-keyed now: ignored
    EXPECT_EQ(numbers->objectForKey("text"), nullptr);
    EXPECT_EQ(v->getReferenceCount(), 2u);
    numbers->release();
    EXPECT_EQ(v->getReferenceCount(), 1u);
    v->release();

    NSDictionary* source = NSDictionary::createWithData(kPlist);
    ASSERT_NE(source, nullptr);
    NSDictionary* copy = source->clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->objectForKey("a"), source->objectForKey("a"));
    EXPECT_EQ(textOf(copy->objectForKey("a")), "5");
    auto* inner = dynamic_cast<NSDictionary*>(copy->objectForKey("inner"));
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(inner, source->objectForKey("inner"));
    EXPECT_EQ(textOf(inner->objectForKey("name")), "deep");
    auto* list = dynamic_cast<__Array*>(copy->objectForKey("list"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 3);
}
