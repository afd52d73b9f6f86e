#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dctag.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNaming.h"
#include "dcmStorage.h"
#include "dcmText.h"

namespace redIRI {

namespace {
const char* const kWho = "dcmReadTag";
}  // namespace

struct dcmReadTag::State {
  detail::DicomFile file;

  // Every element of the meta header and the data set's top level, in tag order; null when
  // there is none.
  std::unique_ptr<DicomTags[]> tagList(size_t& count) {
    struct Entry {
      DcmElement* element;
      bool meta;
    };
    std::vector<Entry> entries;
    auto collect = [&entries](DcmItem* item, bool meta) {
      if (!item) return;
      // One walk along the item's list: getElement(i) would walk it from the start for each i.
      entries.reserve(entries.size() + item->card());
      for (DcmObject* o = item->nextInContainer(nullptr); o; o = item->nextInContainer(o))
        if (auto* e = dynamic_cast<DcmElement*>(o)) entries.push_back({e, meta});
    };
    collect(file.metaInfo(), true);
    collect(file.dataset(), false);
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.element->getTag().getXTag() < b.element->getTag().getXTag();
    });
    if (entries.empty()) return nullptr;

    std::unique_ptr<DicomTags[]> list(new DicomTags[entries.size()]);
    std::memset(list.get(), 0, sizeof(DicomTags) * entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      DcmElement* e = entries[i].element;
      const DcmTag& tag = e->getTag();
      DicomTags& record = list[i];
      std::snprintf(record.tag, sizeof(record.tag), "(%04X,%04X)", tag.getGTag(), tag.getETag());
      text::copyCut(file.valueText(e), record.value, sizeof(record.value));
      const bool isPrivate = tag.isPrivate();
      std::string description = "PrivateTag";
      if (!isPrivate) {
        DcmTag plain(tag.getXTag());
        const char* name = plain.getTagName();
        description = (name && std::strcmp(name, DcmTag_ERROR_TagName) != 0) ? name : "UnknownTag";
      }
      text::copyCut(description, record.description, sizeof(record.description));
      record.flag = (entries[i].meta || isPrivate) ? 1 : 0;
    }
    count = entries.size();
    return list;
  }
};

dcmReadTag::dcmReadTag() : m_state(new State) {}

dcmReadTag::~dcmReadTag() { delete m_state; }

void dcmReadTag::setLanguage(int language) { m_state->file.setLanguage(language); }

bool dcmReadTag::setFile(const char* path) {
  m_state->file.close();
  if (!detail::libraryReady()) return false;
  return m_state->file.open(path, kWho);
}

std::string dcmReadTag::getTag(unsigned short group, unsigned short element) {
  if (!detail::libraryReady() || !m_state->file.isOpen()) return std::string();
  std::string value;
  m_state->file.guard(kWho, [&] { value = m_state->file.valueText(m_state->file.find(group, element)); });
  return value;
}

dcmReadTag::DicomTags* dcmReadTag::getTagList(int& count) {
  count = 0;
  if (!detail::libraryReady() || !m_state->file.isOpen()) return nullptr;
  std::unique_ptr<DicomTags[]> list;
  size_t listed = 0;
  m_state->file.guard(kWho, [&] { list = m_state->tagList(listed); });
  if (!list) return nullptr;
  count = static_cast<int>(listed);
  return list.release();
}

void dcmReadTag::freeTagList(DicomTags* list) { delete[] list; }

float dcmReadTag::getImageScale() {
  if (!detail::libraryReady() || !m_state->file.isOpen()) return 1.0f;
  float scale = 1.0f;
  m_state->file.guard(kWho, [&] {
    const detail::DicomFile& f = m_state->file;
    const long rows = f.intValue(DCM_Rows, 0);
    const long columns = f.intValue(DCM_Columns, 0);
    if (rows <= 0 || columns <= 0) return;
    // Pixel Spacing is row spacing \ column spacing.
    double rowSpacing = f.decimalValue(DCM_PixelSpacing, 0, 1.0);
    double columnSpacing = f.decimalValue(DCM_PixelSpacing, 1, 1.0);
    if (!(rowSpacing > 0) || !std::isfinite(rowSpacing)) rowSpacing = 1.0;
    if (!(columnSpacing > 0) || !std::isfinite(columnSpacing)) columnSpacing = 1.0;
    scale = static_cast<float>((columns * columnSpacing) / (rows * rowSpacing));
  });
  return scale;
}

bool dcmReadTag::getDicomMessage(DCM_MESSAGE& record) {
  if (!detail::libraryReady() || !m_state->file.isOpen()) return false;
  detail::DicomFile& f = m_state->file;
  return f.guard(kWho, [&] {
    auto value = [&f](Uint16 group, Uint16 element) { return f.valueText(f.find(group, element)); };
    const std::string sopUid = value(0x0008, 0x0018);
    // Named as the storage server names a received instance when its UID is a plain one; anything
    // else keeps the file's own name, made a safe single component.
    std::string fileName;
    if (!sopUid.empty() && naming::instanceFileName(sopUid) == sopUid) {
      fileName = sopUid;
    } else {
      const std::string& path = f.path();
      const size_t slash = path.find_last_of('/');
      fileName = naming::safeComponent(slash == std::string::npos ? path : path.substr(slash + 1));
    }
    const std::string folder = naming::dicomFolder(value(0x0010, 0x0010), value(0x0010, 0x0020),
                                                   value(0x0020, 0x000D), value(0x0020, 0x000E));
    detail::fillStoredRecord(f, sopUid, fileName, folder + "/", record);
  });
}

}  // namespace redIRI
