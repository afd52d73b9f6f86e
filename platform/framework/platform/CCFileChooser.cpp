#include "platform/CCFileChooser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "2d/CCLabel.h"
#include "base/CCDirector.h"
#include "base/ccUTF8.h"
#include "node/CCLayerColor.h"
#include "node/CCScene.h"
#include "platform/CCFileUtils.h"
#include "platform/CCGLViewImpl.h"

extern char** environ;

namespace cocos2d {

namespace {

const Color4B kDim(0, 0, 0, 200);
const Color4B kPanel(36, 39, 46, 255);
const Color4B kField(27, 29, 34, 255);
const Color4B kAccent(21, 170, 254, 255);
const Color4B kRaised(47, 51, 59, 255);
const Color4B kText(230, 232, 235, 255);
const Size kPanelSize(720, 190);
const Size kButtonSize(120, 40);

std::string trimLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

// ---- the typed-path prompt -----------------------------------------------------------------------

FilePathPrompt* FilePathPrompt::create(const std::string& initialText)
{
    auto* prompt = new FilePathPrompt();
    if (prompt->initWithText(initialText)) {
        prompt->autorelease();
        return prompt;
    }
    delete prompt;
    return nullptr;
}

bool FilePathPrompt::initWithText(const std::string& initialText)
{
    if (!Layer::init())
        return false;
    _path = initialText;
    const Size win = Director::getInstance()->getWinSize();
    setContentSize(win);
    addChild(LayerColor::create(kDim, win.width, win.height));

    const Vec2 origin((win.width - kPanelSize.width) / 2, (win.height - kPanelSize.height) / 2);
    auto* panel = LayerColor::create(kPanel, kPanelSize.width, kPanelSize.height);
    panel->setPosition(origin);
    addChild(panel);

    Label* title = Label::createWithSystemFont("Type the path of a file or folder:", "", 16);
    title->setTextColor(kText);
    title->setAnchorPoint(Vec2(0, 0.5f));
    title->setPosition(origin + Vec2(16, kPanelSize.height - 28));
    addChild(title);

    auto* field = LayerColor::create(kField, kPanelSize.width - 32, 40);
    field->setPosition(origin + Vec2(16, 82));
    addChild(field);
    _line = Label::createWithSystemFont("", "", 15);
    _line->setTextColor(kText);
    _line->setAnchorPoint(Vec2(0, 0.5f));
    _line->setPosition(origin + Vec2(26, 102));
    addChild(_line);

    _cancel = LayerColor::create(kRaised, kButtonSize.width, kButtonSize.height);
    _cancel->setPosition(origin + Vec2(kPanelSize.width - 16 - 2 * kButtonSize.width - 8, 20));
    addChild(_cancel);
    _ok = LayerColor::create(kAccent, kButtonSize.width, kButtonSize.height);
    _ok->setPosition(origin + Vec2(kPanelSize.width - 16 - kButtonSize.width, 20));
    addChild(_ok);
    for (auto [box, caption] : {std::pair<LayerColor*, const char*>{_cancel, "Cancel"}, {_ok, "OK"}}) {
        Label* label = Label::createWithSystemFont(caption, "", 16);
        label->setTextColor(Color4B::WHITE);
        label->setPosition(box->getPosition() + Vec2(kButtonSize.width / 2, kButtonSize.height / 2));
        addChild(label);
    }
    refresh();
    return true;
}

Rect FilePathPrompt::okRect() const
{
    return Rect(_ok->getPosition(), kButtonSize);
}

Rect FilePathPrompt::cancelRect() const
{
    return Rect(_cancel->getPosition(), kButtonSize);
}

void FilePathPrompt::refresh()
{
    // The end of a long path stays in sight.
    std::string shown = _path;
    const size_t limit = 80;
    if (shown.size() > limit)
        shown = "..." + shown.substr(shown.size() - limit);
    _line->setString(shown + "|");
}

void FilePathPrompt::finish(bool accepted)
{
    _done = true;
    _accepted = accepted;
}

void FilePathPrompt::mouseUp(int button, const Vec2& location)
{
    if (button != 0 || _done)
        return;
    if (okRect().containsPoint(location))
        finish(true);
    else if (cancelRect().containsPoint(location))
        finish(false);
}

void FilePathPrompt::key(EventKeyboard::KeyCode code, bool pressed, bool ctrl)
{
    using KeyCode = EventKeyboard::KeyCode;
    if (!pressed || _done)
        return;
    switch (code) {
    case KeyCode::KEY_ENTER:
    case KeyCode::KEY_KP_ENTER:
    case KeyCode::KEY_RETURN: finish(true); break;
    case KeyCode::KEY_ESCAPE: finish(false); break;
    case KeyCode::KEY_BACKSPACE:
        if (!_path.empty()) {
            // One character, not one byte.
            size_t cut = _path.size() - 1;
            while (cut > 0 && (static_cast<unsigned char>(_path[cut]) & 0xC0) == 0x80)
                --cut;
            _path.erase(cut);
            refresh();
        }
        break;
    case KeyCode::KEY_V:
    case KeyCode::KEY_CAPITAL_V:
        if (ctrl)
            text(clipboard());
        break;
    default: break;
    }
}

void FilePathPrompt::text(const std::string& utf8)
{
    if (_done)
        return;
    for (char c : utf8) {
        if (c != '\n' && c != '\r')
            _path.push_back(c);
    }
    refresh();
}

// ---- zenity ---------------------------------------------------------------------------------------

std::string findZenity()
{
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find(':', start);
        std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/zenity";
            struct stat st;
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return std::string();
}

std::string runZenityFileSelection(const std::string& zenity, const std::string& hint,
                                   const std::function<void()>& whileWaiting)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return std::string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> args = {zenity, "--file-selection"};
    if (!hint.empty())
        args.push_back("--filename=" + hint);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, zenity.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return std::string();
    }

    std::string output;
    bool open = true;
    int status = 0;
    for (;;) {
        if (open) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
                if (n > 0)
                    output.append(buffer, static_cast<size_t>(n));
                else if (n == 0 || errno != EINTR)
                    open = false;
            }
        } else {
            ::usleep(50 * 1000);
        }
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            break;
        if (whileWaiting)
            whileWaiting();
    }
    // What the dialog wrote before it ended.
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::string();
    return trimLineEnd(output);
}

// ---- FileUtils::chooseFile --------------------------------------------------------------------------

void FileUtils::setChooseFileAnswer(const std::string& answer)
{
    _hasChooseFileAnswer = true;
    _chooseFileAnswer = answer;
}

void FileUtils::clearChooseFileAnswer()
{
    _hasChooseFileAnswer = false;
    _chooseFileAnswer.clear();
}

std::string FileUtils::chooseFile(const std::string& hint)
{
    if (_hasChooseFileAnswer)
        return _chooseFileAnswer;
    Director* director = Director::getInstance();
    auto* view = dynamic_cast<GLViewImpl*>(director->getOpenGLView());
    if (!view)
        return std::string();  // headless: nobody to ask

    // The modal wait: window events are polled (input goes to the prompt, or nowhere while
    // zenity's dialog is up) and the scene is drawn, but no scheduler tick runs.
    struct Swallow : InputTranslator::Interceptor {};
    Swallow swallow;
    InputTranslator::Interceptor* previous = InputTranslator::getInterceptor();
    auto redraw = [director, view] {
        view->pollEvents();
        director->drawScene();
        view->swapBuffers();
    };

    std::string chosen;
    const std::string zenity = findZenity();
    if (!zenity.empty()) {
        InputTranslator::setInterceptor(&swallow);
        chosen = runZenityFileSelection(zenity, hint, redraw);
    } else if (Scene* scene = director->getRunningScene()) {
        FilePathPrompt* prompt = FilePathPrompt::create(hint);
        prompt->retain();
        scene->addChild(prompt, 0x7fffffff);
        InputTranslator::setInterceptor(prompt);
        while (!prompt->isDone() && !view->windowShouldClose()) {
            redraw();
            ::usleep(16 * 1000);
        }
        if (prompt->isAccepted())
            chosen = prompt->getPath();
        prompt->removeFromParent();
        prompt->release();
    }
    InputTranslator::setInterceptor(previous);
    return chosen;
}

} // namespace cocos2d
