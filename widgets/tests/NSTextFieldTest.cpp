// Rich text layout and the text field: focus by touch, typing and pasting through the input
// method, filters, length limit, password mask, deletion back to the placeholder, UTF-8 and the
// cursor.
#include "AppConfig.h"
#include "NSLayout.h"
#include "NSTextField.h"
#include "support/WidgetsFixture.h"

#include "cocostudio/CocoStudio.h"

using namespace cocos2d;

namespace
{

class NSTextFieldTest : public WidgetsTest
{
protected:
    // Width and height of one "M" label at size 20 (the default font is pinned).
    Size glyph()
    {
        auto* label = Label::createWithSystemFont("M", "", 20);
        return label->getContentSize();
    }
    // A 300 x 40 field at (100, 100), focused by a click.
    NSUI::NSTextField* focusedField()
    {
        auto* field = NSUI::NSTextField::create("type here", Size(300, 40));
        field->setPosition(Vec2(100, 100));
        scene->addChild(field);
        click(110, 110);
        return field;
    }
    static void backspace() { InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE); }
};

TEST_F(NSTextFieldTest, RichTextWrapsOneElementPerCharacter)
{
    const Size g = glyph();
    auto* rich = NSUI::NSRichText::create();
    rich->setContentSize(Size(std::floor(g.width * 7.5f), 0));
    scene->addChild(rich);
    rich->setText("MMMMMMMMMM", "", 20, Color3B::BLACK);
    ASSERT_EQ(rich->getElements().size(), 10u);
    EXPECT_FLOAT_EQ(rich->getContentSize().height, 2 * g.height);
    EXPECT_EQ(rich->getElements()[6]->renderer->getPosition().y, g.height); // first line
    EXPECT_EQ(rich->getElements()[7]->renderer->getPosition(), Vec2(0, 0)); // second line
    // Past the end: the right edge of the last character.
    EXPECT_EQ(rich->getCursorPosition(99), Vec2(3 * g.width, 0));
    EXPECT_EQ(rich->getCursorPosition(-4), Vec2(0, g.height));

    // A view height of one line: the widget stays one line high and its content scrolls.
    rich->setLineHeight(static_cast<int>(g.height));
    rich->setLineHeight(0);
    rich->setLineHeight(-3);
    EXPECT_EQ(rich->getViewHeight(), static_cast<int>(g.height));
    rich->formatText();
    EXPECT_FLOAT_EQ(rich->getContentSize().height, static_cast<float>(static_cast<int>(g.height)));
    EXPECT_FLOAT_EQ(rich->getElementContainer()->getInnerContainerSize().height, 2 * g.height);

    // A text element of several characters is split on insertion, UTF-8 aware.
    rich->clearElements();
    rich->pushBackElement(NSUI::NSRichElementText::create(1, "a\xC3\xA9\xE2\x82\xAC", "", 20, Color3B::BLACK, 255),
                          true);
    ASSERT_EQ(rich->getElements().size(), 3u);
    EXPECT_EQ(static_cast<NSUI::NSRichElementText*>(rich->getElements()[2])->getText(), "\xE2\x82\xAC");
    // A character wider than the widget starts a new line even as the first element.
    rich->setContentSize(Size(5, 0));
    rich->setText("M", "", 20, Color3B::BLACK);
    EXPECT_FLOAT_EQ(rich->getContentSize().height, g.height);
}

TEST_F(NSTextFieldTest, TypingPastingDeletingAndThePlaceholder)
{
    auto* field = focusedField();
    EXPECT_TRUE(field->isPlaceHolderShown());
    int inserts = 0;
    int deletes = 0;
    field->addEventListener([&](Ref*, NSUI::NSTextField::EventType e) {
        (e == NSUI::NSTextField::EventType::INSERT_TEXT ? inserts : deletes)++;
    });

    InputSimulator::text("ab");
    EXPECT_EQ(field->getString(), "ab");
    EXPECT_FALSE(field->isPlaceHolderShown());
    EXPECT_EQ(field->getCursorIndex(), 2);
    EXPECT_EQ(inserts, 2);

    InputSimulator::paste("cd\nef");
    EXPECT_EQ(field->getString(), "abcd");
    InputSimulator::paste("\nxyz");
    EXPECT_EQ(field->getString(), "abcd");
    EXPECT_EQ(inserts, 3); // the paste that began with a newline inserted nothing

    // A two-byte character between two characters.
    field->setCursorIndex(1);
    InputSimulator::text("\xC3\xA9");
    EXPECT_EQ(field->getString(), "a\xC3\xA9" "bcd");
    EXPECT_EQ(field->getCursorIndex(), 2);
    backspace();
    EXPECT_EQ(field->getString(), "abcd");
    EXPECT_EQ(deletes, 1);

    // A cursor set beyond the text is clamped.
    field->cursorIndex = 50;
    field->insertString("e");
    EXPECT_EQ(field->getString(), "abcde");
    EXPECT_EQ(field->getElements().size(), 5u);
    EXPECT_EQ(field->getCursorIndex(), 5);

    for (int i = 0; i < 5; ++i)
        backspace();
    EXPECT_EQ(field->getString(), "");
    EXPECT_TRUE(field->isPlaceHolderShown());
    ASSERT_FALSE(field->getElements().empty());
    auto* first = static_cast<NSUI::NSRichElementText*>(field->getElements()[0]);
    EXPECT_EQ(first->getText(), "t");
    EXPECT_EQ(first->color, Color3B::GRAY);
    backspace(); // nothing to delete in a placeholder
    EXPECT_EQ(deletes, 6);

    field->setString("xyz");
    EXPECT_EQ(field->getString(), "xyz");
    field->setString("");
    EXPECT_TRUE(field->isPlaceHolderShown());
}

TEST_F(NSTextFieldTest, EditingKeysActAtTheCursor)
{
    using Key = EventKeyboard::KeyCode;
    // "abcd" with the cursor after "b"; the key, then "X" typed where the cursor went.
    const struct
    {
        Key key;
        int cursorAt;
        const char* after;
    } rows[] = {
        {Key::KEY_BACKSPACE, 2, "aXcd"},
        {Key::KEY_DELETE, 2, "abXd"},
        {Key::KEY_DELETE, 4, "abcdX"}, // nothing after the cursor
        {Key::KEY_HOME, 2, "Xabcd"},
        {Key::KEY_END, 2, "abcdX"},
        {Key::KEY_LEFT_ARROW, 2, "aXbcd"},
        {Key::KEY_LEFT_ARROW, 0, "Xabcd"},
        {Key::KEY_RIGHT_ARROW, 2, "abcXd"},
        {Key::KEY_RIGHT_ARROW, 4, "abcdX"},
    };
    auto* field = focusedField();
    for (const auto& row : rows)
    {
        field->setString("abcd");
        field->setCursorIndex(row.cursorAt);
        InputSimulator::tap(row.key);
        InputSimulator::text("X");
        EXPECT_EQ(field->getString(), row.after) << "key " << static_cast<int>(row.key) << " at " << row.cursorAt;
        // The line stays where it was drawn: the key scrolled nothing out of view.
        auto lineY = [field] { return field->getElements()[0]->renderer->convertToWorldSpace(Vec2::ZERO).y; };
        const float drawn = lineY();
        InputSimulator::tap(row.key);
        EXPECT_EQ(lineY(), drawn) << "key " << static_cast<int>(row.key);
    }
    // Delete up to the last character leaves the placeholder, as Backspace does.
    field->setString("a");
    field->setCursorIndex(0);
    InputSimulator::tap(Key::KEY_DELETE);
    EXPECT_TRUE(field->isPlaceHolderShown());
}

TEST_F(NSTextFieldTest, FiltersLengthLimitAndPassword)
{
    auto* field = focusedField();
    field->setInputMode(NSUI::NSTextField::InputMode::SIGNED_DECIMAL);
    InputSimulator::text("-1.5.");
    EXPECT_EQ(field->getString(), "-1.5");
    InputSimulator::text("-a");
    EXPECT_EQ(field->getString(), "-1.5");

    field->setString("");
    field->setInputMode(NSUI::NSTextField::InputMode::IP_ADDRESS);
    InputSimulator::text(".10..0.0.1");
    EXPECT_EQ(field->getString(), "10.0.0.1");

    field->setString("");
    field->setInputMode(NSUI::NSTextField::InputMode::ANY);
    field->setMaxLength(10);
    field->setMaxLengthEnabled(true);
    InputSimulator::text("123456789");
    InputSimulator::paste("abc"); // below the limit: inserted whole
    EXPECT_EQ(field->getString(), "123456789abc");
    InputSimulator::text("z");
    EXPECT_EQ(field->getString(), "123456789abc");

    field->setString("");
    field->setMaxLengthEnabled(false);
    field->setPasswordEnabled(true);
    InputSimulator::text("pw");
    EXPECT_EQ(field->getString(), "pw");
    ASSERT_EQ(field->getElements().size(), 2u);
    for (auto* e : field->getElements())
        EXPECT_EQ(static_cast<NSUI::NSRichElementText*>(e)->getText(), "*");
}

TEST_F(NSTextFieldTest, FocusByTouchCursorPlacementAndBlink)
{
    auto* field = focusedField();
    InputSimulator::text("MMM");
    const Size g = glyph();
    // Content is one line; the labels are at the field's bottom-left.
    const Vec2 third = field->getElements()[2]->renderer->convertToWorldSpace(Vec2::ZERO);
    click(third.x + g.width * 0.75f, third.y + g.height / 2);
    EXPECT_EQ(field->getCursorIndex(), 3); // the right half of the third character
    click(third.x + g.width * 0.25f, third.y + g.height / 2);
    EXPECT_EQ(field->getCursorIndex(), 2);

    EXPECT_TRUE(director->getOpenGLView()->getIMEKeyboardState());
    step(31); // 0.5 s: the cursor appears
    ASSERT_NE(field->getCursor(), nullptr);
    EXPECT_TRUE(field->getCursor()->isVisible());
    step(30);
    EXPECT_FALSE(field->getCursor()->isVisible());

    // A touch outside takes the focus away: typing goes nowhere.
    click(800, 600);
    EXPECT_FALSE(director->getOpenGLView()->getIMEKeyboardState());
    InputSimulator::text("x");
    EXPECT_EQ(field->getString(), "MMM");
}

TEST_F(NSTextFieldTest, BackgroundFollowsFocusAndTheLayoutMakesFields)
{
    auto* layout = NSUI::NSLayout::create();
    layout->setContentSize(Size(960, 640));
    scene->addChild(layout);
    auto* field = layout->createTextField("name", Vec2(100, 100), 30, Vec2::ZERO);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->fontSize, 30);
    layout->addChild(field);
    field->enableBackground();
    ASSERT_NE(field->getBackground(), nullptr);
    EXPECT_EQ(field->getBackground()->getParent(), layout);
    EXPECT_EQ(field->getLocalZOrder(), 10);
    EXPECT_EQ(field->getBackground()->getLocalZOrder(), 9);

    // Focus moves from one field to another: only the focused one keeps its cursor blinking.
    auto* other = NSUI::NSTextField::create("other", Size(200, 40));
    other->setPosition(Vec2(500, 100));
    layout->addChild(other);
    click(110, 110);
    InputSimulator::text("a");
    click(510, 110);
    InputSimulator::text("b");
    EXPECT_EQ(field->getString(), "a");
    EXPECT_EQ(other->getString(), "b");
}

} // namespace

// A screen loads its layout, adds its fields and translates the tree by child name: a field named
// in the language table takes the translation as its placeholder, shown at once when the field is
// empty, kept behind the text otherwise.
TEST_F(NSTextFieldTest, PlaceholdersOfALoadedLayoutAreTranslated)
{
    const std::string path = FileUtils::getInstance()->getWritablePath() + "login.csb";
    ASSERT_TRUE(FileUtils::getInstance()->writeStringToFile(
        R"({ "format": "quorvane-layout", "version": 1,
  "root": { "type": "Layout", "name": "root", "size": [960, 640], "children": [
    { "type": "Text", "name": "appName", "text": "?", "fontSize": 20 },
    { "type": "Layout", "name": "form", "size": [400, 200] } ] } })",
        path));
    Node* root = CSLoader::createNode(path);
    ASSERT_NE(root, nullptr);
    scene->addChild(root);
    Node* form = root->getChildByName("form");
    ASSERT_NE(form, nullptr);
    auto* empty = NSUI::NSTextField::create("untranslated", Size(300, 40));
    empty->setName("tool_ww_Input");
    form->addChild(empty);
    auto* filled = NSUI::NSTextField::create("untranslated", Size(300, 40));
    filled->setName("tool_ww_Default");
    filled->setString("42");
    form->addChild(filled);

    AppConfig config;
    config.loadLanguage();
    config.setText(root, "");
    EXPECT_EQ(dynamic_cast<ui::Text*>(root->getChildByName("appName"))->getString(), "Quorvane");
    EXPECT_EQ(empty->getPlaceHolder(), "Enter Values");
    EXPECT_TRUE(empty->isPlaceHolderShown());
    EXPECT_EQ(filled->getPlaceHolder(), "Default");
    EXPECT_FALSE(filled->isPlaceHolderShown());
    EXPECT_EQ(filled->getString(), "42");
}

// Spaces survive every step from the language table and the keyboard to the drawn labels: a
// translated placeholder and typed text are as wide as one label of the same text. A field its owner
// gave no touch rectangle takes a click anywhere in the size it was created with, even above its
// one line of text.
TEST_F(NSTextFieldTest, SpacesAreDrawnAndAFreshFieldOfALoadedLayoutTakesAClick)
{
    const std::string path = FileUtils::getInstance()->getWritablePath() + "account.csb";
    ASSERT_TRUE(FileUtils::getInstance()->writeStringToFile(
        R"({ "format": "quorvane-layout", "version": 1,
  "root": { "type": "Layout", "name": "root", "size": [960, 640], "children": [
    { "type": "Layout", "name": "form", "size": [400, 200], "position": [100, 100] } ] } })",
        path));
    Node* root = CSLoader::createNode(path);
    ASSERT_NE(root, nullptr);
    scene->addChild(root);
    auto* field = NSUI::NSTextField::create("untranslated", Size(300, 40));
    field->setName("tool_ww_Input");
    field->setPosition(Vec2(20, 20));
    root->getChildByName("form")->addChild(field);
    AppConfig config;
    config.loadLanguage();
    config.setText(root, "");

    auto drawnWidth = [field] { return field->getCursorPosition(static_cast<int>(field->getElements().size())).x; };
    auto labelWidth = [](const std::string& s) { return Label::createWithSystemFont(s, "", 25)->getContentSize().width; };
    ASSERT_EQ(field->getPlaceHolder(), "Enter Values");
    ASSERT_TRUE(field->isPlaceHolderShown());
    EXPECT_EQ(field->getElements().size(), 12u);
    EXPECT_GT(labelWidth(" "), 3.0f);
    EXPECT_NEAR(drawnWidth(), labelWidth("Enter Values"), 0.01f);

    // The text is one line, lower than the field was made; a click above it still focuses.
    ASSERT_LT(field->getContentSize().height, 38.0f);
    const Vec2 nearTop = field->convertToWorldSpace(Vec2(150, 38));
    click(nearTop.x, nearTop.y);
    EXPECT_TRUE(director->getOpenGLView()->getIMEKeyboardState());
    InputSimulator::text("Ada Byron ");
    InputSimulator::paste("of X");
    EXPECT_EQ(field->getString(), "Ada Byron of X");
    EXPECT_EQ(field->getElements().size(), 14u);
    EXPECT_NEAR(drawnWidth(), labelWidth("Ada Byron of X"), 0.01f);
}

// A rich text or a text field freed without cleanup (built but never shown) releases its elements.
TEST_F(NSTextFieldTest, FreedWithoutCleanupReleasesTheElements)
{
    auto* rich = NSUI::NSRichText::create();
    rich->setContentSize(Size(300, 0));
    rich->setText("abc", "", 20, Color3B::BLACK);
    auto* field = NSUI::NSTextField::create("type here", Size(300, 40));
    field->setString("xyz");
    rich->retain();
    field->retain();
    step(); // the pools let go of their references
    ASSERT_FALSE(rich->getElements().empty());
    ASSERT_FALSE(field->getElements().empty());
    Ref* richElement = rich->getElements().front();
    Ref* fieldElement = field->getElements().back();
    richElement->retain();
    fieldElement->retain();
    rich->release();
    field->release();
    EXPECT_EQ(richElement->getReferenceCount(), 1u);
    EXPECT_EQ(fieldElement->getReferenceCount(), 1u);
    richElement->release();
    fieldElement->release();
}
