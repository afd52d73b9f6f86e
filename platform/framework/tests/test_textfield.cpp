// Text field: attaching by touch, typing, password masking, maximum length, clipboard paste as
// one insert, line breaks, whole-character backspace and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/WidgetTest.h"
#include "ui/CocosGUI.h"

USING_NS_CC;

namespace {

using FieldEvent = ui::TextField::EventType;

class TextFieldTest : public qvtest::WidgetTest {
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        field = ui::TextField::create("address", "", 20);
        field->ignoreContentAdaptWithSize(false);
        field->setContentSize(Size(200, 30));
        field->setPosition(Vec2(300, 300));
        field->addEventListener([this](Ref*, FieldEvent type) { events.push_back(static_cast<int>(type)); });
        scene->addChild(field);
    }
    // Clicks into the field and forgets the attach event.
    void focus()
    {
        click(300, 300);
        ASSERT_TRUE(field->isAttachedWithIME());
        events.clear();
    }

    ui::TextField* field = nullptr;
    std::vector<int> events;
};

} // namespace

TEST_F(TextFieldTest, ATouchAttachesTheFieldAndOnlyTheAttachedFieldTakesText)
{
    InputSimulator::text("ignored");
    EXPECT_EQ(field->getString(), "");
    EXPECT_EQ(field->getRenderedText(), "address");

    click(300, 300);
    EXPECT_EQ(events, (std::vector<int>{0}));
    EXPECT_TRUE(director->getOpenGLView()->getIMEKeyboardState());
    InputSimulator::text("ab");
    EXPECT_EQ(field->getString(), "ab");
    EXPECT_EQ(field->getRenderedText(), "ab");
    EXPECT_EQ(field->getStringLength(), 2);
    EXPECT_EQ(events, (std::vector<int>{0, 2, 2}));

    // A second field taking the input method detaches the first.
    auto* second = ui::TextField::create("", "", 20);
    second->ignoreContentAdaptWithSize(false);
    second->setContentSize(Size(200, 30));
    second->setPosition(Vec2(300, 100));
    scene->addChild(second);
    click(300, 100);
    EXPECT_FALSE(field->isAttachedWithIME());
    EXPECT_TRUE(second->isAttachedWithIME());
    EXPECT_EQ(events.back(), 1);
    InputSimulator::text("c");
    EXPECT_EQ(field->getString(), "ab");
    EXPECT_EQ(second->getString(), "c");

    // A touch elsewhere that reaches the field detaches it; leaving the scene does too.
    click(300, 300);
    click(800, 600);
    EXPECT_FALSE(field->isAttachedWithIME());
    click(300, 300);
    field->removeFromParent();
    EXPECT_EQ(IMEDispatcher::sharedDispatcher()->getAttachedDelegate(), nullptr);
}

TEST_F(TextFieldTest, BackspaceRemovesWholeCharactersAndEmptyShowsThePlaceholder)
{
    focus();
    InputSimulator::text("a\xC3\xA9\xE4\xB8\xAD"); // a, e-acute, a CJK character
    EXPECT_EQ(field->getStringLength(), 3);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE);
    EXPECT_EQ(field->getString(), "a\xC3\xA9");
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE);
    EXPECT_EQ(field->getString(), "");
    EXPECT_EQ(field->getRenderedText(), "address");
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE); // nothing left: no event
    EXPECT_EQ(events, (std::vector<int>{2, 2, 2, 3, 3, 3}));
}

TEST_F(TextFieldTest, PasswordFieldsShowOneMaskPerCharacter)
{
    field->setPasswordEnabled(true);
    focus();
    InputSimulator::text("pw\xC3\xA9");
    EXPECT_EQ(field->getString(), "pw\xC3\xA9");
    EXPECT_EQ(field->getRenderedText(), "***");
    field->setPasswordStyleText("\xE2\x80\xA2"); // a bullet
    EXPECT_EQ(field->getRenderedText(), "\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
    field->setPasswordEnabled(false);
    EXPECT_EQ(field->getRenderedText(), "pw\xC3\xA9");
}

TEST_F(TextFieldTest, MaximumLengthCutsTypingAndPastes)
{
    field->setMaxLengthEnabled(true);
    field->setMaxLength(4);
    focus();
    InputSimulator::text("ab");
    InputSimulator::paste("12345");
    EXPECT_EQ(field->getString(), "ab12");
    EXPECT_EQ(events, (std::vector<int>{2, 2, 2})) << "the paste is one insert";
    InputSimulator::paste("more");
    InputSimulator::text("x");
    EXPECT_EQ(field->getString(), "ab12");
    EXPECT_EQ(events.size(), 3u) << "a full field fires nothing";

    // Characters, not bytes, are counted.
    field->setString("");
    InputSimulator::paste("\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD");
    EXPECT_EQ(field->getStringLength(), 4);
    // A lower limit cuts the text at once.
    field->setMaxLength(2);
    EXPECT_EQ(field->getString(), "\xE4\xB8\xAD\xE4\xB8\xAD");
}

TEST_F(TextFieldTest, APasteArrivesWholeAndALineBreakEndsEditing)
{
    focus();
    InputSimulator::paste("192.168.1.20:104");
    EXPECT_EQ(field->getString(), "192.168.1.20:104");
    EXPECT_EQ(events, (std::vector<int>{2}));

    field->setString("");
    events.clear();
    InputSimulator::paste("first line\nsecond line");
    EXPECT_EQ(field->getString(), "first line");
    EXPECT_FALSE(field->isAttachedWithIME());
    EXPECT_EQ(events, (std::vector<int>{2, 1}));

    // Enter alone ends editing without an insert.
    focus();
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_ENTER);
    EXPECT_FALSE(field->isAttachedWithIME());
    EXPECT_EQ(events, (std::vector<int>{1}));
}

TEST_F(TextFieldTest, InvalidBytesAndControlCharactersAreDropped)
{
    focus();
    const std::string hostile = std::string("ok\x01\x7F\xFF\xC0\xAF\xED\xA0\x80\tgo\xF0\x9F\x98\x80");
    IMEDispatcher::sharedDispatcher()->dispatchInsertText(hostile.data(), hostile.size());
    EXPECT_EQ(field->getString(), "okgo\xF0\x9F\x98\x80");
    EXPECT_EQ(field->getStringLength(), 5);
    // Only bad bytes: nothing inserted, no event.
    events.clear();
    IMEDispatcher::sharedDispatcher()->dispatchInsertText("\xFE\xFF", 2);
    EXPECT_TRUE(events.empty());
    field->setString(std::string("a\0b", 3));
    EXPECT_EQ(field->getString(), "ab");
}

TEST_F(TextFieldTest, DisabledFieldsDoNotAttach)
{
    field->setEnabled(false);
    click(300, 300);
    EXPECT_FALSE(field->isAttachedWithIME());
    EXPECT_TRUE(events.empty());
}
