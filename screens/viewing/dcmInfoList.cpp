#include "dcmInfoList.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSResponseWindow.h"
#include "NSRunableThread.h"
#include "cocostudio/CSLoader.h"
#include "textFit.h"
#include "ui/CocosGUI.h"

#include <algorithm>
#include <chrono>
#include <thread>

USING_NS_CC;

namespace {

void setLabel(Node* root, const char* name, const std::string& text)
{
    if (auto* label = dynamic_cast<ui::Text*>(root ? root->getChildByNameDeep(name) : nullptr))
        label->setString(text);
}

int currentLanguage()
{
    Application* app = Application::getInstance();
    return app ? static_cast<int>(app->getCurrentLanguage()) : 0;
}

} // namespace

dcmInfoList::listObject* dcmInfoList::listObject::create()
{
    auto* row = new listObject();
    row->autorelease();
    return row;
}

dcmInfoList::Job::~Job()
{
    redIRI::dcmReadTag::freeTagList(tags);
}

NSUI::NSResponseWindow* dcmInfoList::createWindow()
{
    auto* list = dcmInfoList::create();
    if (list) {
        list->setup();
        list->enableAndroidReturnKey(true);
    }
    return NSUI::NSResponseWindow::createFor(list, list ? list->layout : nullptr);
}

dcmInfoList* dcmInfoList::fromWindow(Node* window)
{
    if (!window)
        return nullptr;
    if (auto* self = dynamic_cast<dcmInfoList*>(window))
        return self;
    return dynamic_cast<dcmInfoList*>(window->getChildByName(kNodeName));
}

dcmInfoList::~dcmInfoList()
{
    // A list destroyed without its clean-up still outlives its worker.
    while (!threadGone.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool dcmInfoList::init()
{
    if (!Node::init())
        return false;
    filePath.clear();
    loadOnEnter = true;
    setName(kNodeName);
    layout = CSLoader::createNode(kLayoutFile);
    if (layout) {
        layout->setName(kLayoutFile);
        addChild(layout);
    }
    return true;
}

void dcmInfoList::setup()
{
    if (!layout || list)
        return;
    AppConfig::getInstance()->setText(layout, "");
    if (auto* widget = dynamic_cast<ui::Widget*>(layout))
        ui::Helper::doLayout(widget);
    fitToWindow();
    if (Node* placeholder = layout->getChildByNameDeep("dcmList")) {
        list = NSUI::NSListView::create();
        list->setContentSize(placeholder->getContentSize());
        list->setAnchorPoint(placeholder->getAnchorPoint());
        list->setPosition(placeholder->getPosition());
        list->delegate = this;
        placeholder->getParent()->addChild(list, placeholder->getLocalZOrder());
        placeholder->setVisible(false);
        list->reloadData();
    }
    if (auto* back = dynamic_cast<ui::Button*>(layout->getChildByNameDeep("btn_back"))) {
        back->setPressedActionEnabled(true);
        back->addClickEventListener([this](Ref* sender) { onBack(sender); });
    }
}

void dcmInfoList::fitToWindow()
{
    // The layout hangs from the window's top edge; a window lower than it (a 1280x800 screen leaves
    // 700 units) takes the difference from the list, so the heading and the close button keep their
    // distance from the top and the list still ends above the window's bottom edge.
    Node* placeholder = layout->getChildByNameDeep("dcmList");
    const float room = Director::getInstance()->getWinSize().height - kBottomMargin;
    Size size = layout->getContentSize();
    if (!placeholder || placeholder->getParent() != layout || size.height <= room)
        return;
    const float excess = std::min(size.height - room, placeholder->getContentSize().height - kRowHeight);
    if (excess <= 0)
        return;
    for (Node* child : layout->getChildren()) {
        if (child == placeholder)
            child->setContentSize(child->getContentSize() - Size(0, excess));
        else
            child->setPositionY(child->getPositionY() - excess);
    }
    size.height -= excess;
    layout->setContentSize(size);
}

void dcmInfoList::setFilePath(const std::string& path)
{
    filePath = path;
    if (isRunning() && !loadOnEnter)
        startLoad();
}

void dcmInfoList::onEnterTransitionDidFinish()
{
    Node::onEnterTransitionDidFinish();
    if (loadOnEnter) {
        loadOnEnter = false;
        startLoad();
    }
}

void dcmInfoList::startLoad()
{
    if (loadStarted || filePath.size() <= 2)
        return;
    loadStarted = true;
    auto job = std::make_shared<Job>();
    job->path = filePath;
    job->language = currentLanguage();
    // A counted run that ends by itself; the shell's shutdown or the exit handler waits for it.
    NSUI::NSRunableThread::create([job](void*) { loadTagList(*job); }, nullptr, this,
                                  [this, job]() { fillRows(*job); });
}

void dcmInfoList::loadTagList(Job& job)
{
    if (job.path.size() <= 2)
        return;
    redIRI::dcmReadTag reader;
    reader.setLanguage(job.language);
    if (!reader.setFile(job.path.c_str()))
        return;
    job.tags = reader.getTagList(job.count);
    if (!job.tags)
        job.count = 0;
}

void dcmInfoList::fillRows(Job& job)
{
    filled = true;
    if (!list || job.path.size() <= 2)
        return;
    records = std::make_shared<Job>();
    std::swap(records->tags, job.tags);
    records->count = job.count;
    records->path = job.path;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < records->count; ++i) {
            const redIRI::dcmReadTag::DicomTags& record = records->tags[i];
            if ((record.flag == 0) != (pass == 0))
                continue;
            listObject* row = listObject::create();
            row->tag = record.tag;
            row->intro = NSUI::cutToCharacters(record.description, kIntroCharacters);
            row->value = record.value;
            list->insertRow(-1, row);
        }
    }
}

Size dcmInfoList::tableCellSizeForIndex(NSUI::NSTableView*, ssize_t, Ref*)
{
    return Size(list ? list->getContentSize().width : getContentSize().width, kRowHeight);
}

NSUI::NSTableViewCell* dcmInfoList::tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const Size& size)
{
    auto* row = dynamic_cast<listObject*>(index >= 0 && index < table->getRowCount() ? table->getRowData()[index]
                                                                                      : nullptr);
    NSUI::NSTableViewCell* cell = table->cellAtIndex(index);
    if (!cell)
        cell = table->dequeueCell();
    if (!cell)
        cell = NSUI::NSTableViewCell::create();
    Node* content = cell->getChildByTag(kCellLayoutTag);
    if (!content) {
        content = CSLoader::createNode(kRowFile);
        if (content) {
            content->setContentSize(size);
            if (auto* widget = dynamic_cast<ui::Widget*>(content))
                ui::Helper::doLayout(widget);
            AppConfig::getInstance()->setText(content, "");
            content->setTag(kCellLayoutTag);
            cell->addChild(content);
        }
    }
    if (row) {
        setLabel(content, "tag", row->tag);
        setLabel(content, "intro", row->intro);
        setLabel(content, "value", row->value);
    }
    return cell;
}

void dcmInfoList::onBack(Ref* sender)
{
    if (auto* button = dynamic_cast<Node*>(sender); button && button->getName() == "btn_back")
        close();
}

bool dcmInfoList::onResponseReturn()
{
    close();
    return true;
}

void dcmInfoList::close()
{
    Node* parent = getParent();
    retain();
    if (dynamic_cast<NSUI::NSResponseWindow*>(parent))
        parent->removeFromParent();
    else
        removeFromParent();
    release();
}

void dcmInfoList::cleanup()
{
    while (!threadGone.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    removePendingCompletions();
    Node::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    records.reset();
}
