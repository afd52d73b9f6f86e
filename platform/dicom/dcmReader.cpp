#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmPixels.h"
#include "dcmText.h"

namespace redIRI {

struct dcmReader::State {
  detail::DicomFile file;
  int language = 0;
  bool layoutRead = false;
  bool layoutOk = false;
  detail::PixelLayout layout;
  bool decodeTried = false;
  detail::PixelBuffer pixels;

  void reset() {
    file.close();
    layoutRead = false;
    layoutOk = false;
    layout = detail::PixelLayout();
    decodeTried = false;
    pixels = detail::PixelBuffer();
  }

  // Runs `read` over the open file; when DCMTK throws, the file is refused (logged) and the
  // reader holds no file from then on.
  template <class Read>
  bool guard(Read&& read) {
    if (file.guard("dcmReader", std::forward<Read>(read))) return true;
    reset();
    return false;
  }

  // The layout, read once per file; logs why a file's pixels cannot be delivered.
  bool readLayout() {
    if (!layoutRead) {
      layoutRead = true;
      std::string why;
      layoutOk = detail::readPixelLayout(file, layout, why);
      if (!layoutOk) detail::logLine("dcmReader: no usable pixels in \"%s\": %s", file.path().c_str(), why.c_str());
    }
    return layoutOk;
  }
};

namespace {

// Maps frame 0 of a grey image to 8-bit display values through the modality rescale and a
// window: the file's first window when asked for and present, else the frame's own range.
void renderGrey(const detail::DicomFile& file, const detail::PixelLayout& l, const uint8_t* pixels, bool useFileWindow,
                std::vector<unsigned char>& rgb) {
  const size_t n = l.elementsPerFrame();
  double slope = file.decimalValue(DCM_RescaleSlope, 0, 1.0);
  const double intercept = file.decimalValue(DCM_RescaleIntercept, 0, 0.0);
  if (!std::isfinite(slope) || slope == 0.0) slope = 1.0;
  const bool wide = l.type == 1;
  const bool sgnd = wide && l.pixelRepresentation == 1;
  auto rawAt = [&](size_t i) -> long {
    if (!wide) return pixels[i];
    const uint16_t w = reinterpret_cast<const uint16_t*>(pixels)[i];
    return sgnd ? static_cast<long>(static_cast<int16_t>(w)) : static_cast<long>(w);
  };

  double centre = std::numeric_limits<double>::quiet_NaN(), width = centre;
  if (useFileWindow) {
    centre = file.decimalValue(DCM_WindowCenter, 0, centre);
    width = file.decimalValue(DCM_WindowWidth, 0, width);
  }
  const bool fileWindow = std::isfinite(centre) && std::isfinite(width) && width >= 1.0;
  double lowest = 0, highest = 0;
  if (!fileWindow && n > 0) {
    long minRaw = rawAt(0), maxRaw = minRaw;
    for (size_t i = 1; i < n; ++i) {
      const long v = rawAt(i);
      if (v < minRaw) minRaw = v;
      if (v > maxRaw) maxRaw = v;
    }
    lowest = std::min(minRaw * slope + intercept, maxRaw * slope + intercept);
    highest = std::max(minRaw * slope + intercept, maxRaw * slope + intercept);
  }

  // One display value per possible stored value, so the pixel loop is a look-up.
  const long first = wide ? (sgnd ? -32768 : 0) : 0;
  const size_t range = wide ? 65536 : 256;
  std::vector<unsigned char> table(range);
  const bool invert = l.photometric == "MONOCHROME1";
  for (size_t k = 0; k < range; ++k) {
    const double x = (first + static_cast<long>(k)) * slope + intercept;
    double y;
    if (fileWindow) {
      // The LINEAR VOI LUT function of the DICOM standard.
      const double lo = centre - 0.5 - (width - 1) / 2, hi = centre - 0.5 + (width - 1) / 2;
      y = x <= lo ? 0.0 : x > hi ? 255.0 : ((x - (centre - 0.5)) / (width - 1) + 0.5) * 255.0;
    } else {
      y = highest > lowest ? (x - lowest) / (highest - lowest) * 255.0 : 0.0;
    }
    long v = std::lround(std::clamp(y, 0.0, 255.0));
    table[k] = static_cast<unsigned char>(invert ? 255 - v : v);
  }
  rgb.resize(n * 3);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char v = table[static_cast<size_t>(rawAt(i) - first)];
    rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = v;
  }
}

}  // namespace

dcmReader::dcmReader() : m_state(new State) {}

dcmReader::~dcmReader() { delete m_state; }

void dcmReader::setLanguage(int language) {
  m_state->language = language;
  m_state->file.setLanguage(language);
}

bool dcmReader::setFile(const char* path) {
  m_state->reset();
  if (!detail::libraryReady()) return false;
  return m_state->file.open(path, "dcmReader");
}

bool dcmReader::readDicomTagString(unsigned short group, unsigned short element, char* buffer, int size) {
  if (!detail::libraryReady() || !m_state->file.isOpen() || !buffer || size < 1) return false;
  bool found = false;
  m_state->guard([&] {
    DcmElement* e = m_state->file.find(group, element);
    if (!e) return;
    text::copyCut(m_state->file.valueText(e), buffer, static_cast<size_t>(size));
    found = true;
  });
  return found;
}

bool dcmReader::readDicomTagUint16(unsigned short group, unsigned short element, unsigned short& value) {
  if (!detail::libraryReady() || !m_state->file.isOpen()) return false;
  bool read = false;
  m_state->guard([&] {
    DcmElement* e = m_state->file.find(group, element);
    if (!e) return;
    if (e->ident() == EVR_US) {
      Uint16 v;
      if (e->getUint16(v, 0).bad()) return;
      value = v;
      read = true;
    } else if (e->ident() == EVR_SS) {
      Sint16 v;
      if (e->getSint16(v, 0).bad()) return;
      value = static_cast<unsigned short>(v);
      read = true;
    }
  });
  return read;
}

bool dcmReader::readDicomPixelType(PixelType& type) {
  if (!detail::libraryReady() || !m_state->file.isOpen()) return false;
  bool usable = false;
  m_state->guard([&] { usable = m_state->readLayout(); });
  if (!usable) return false;
  type = static_cast<PixelType>(m_state->layout.type);
  return true;
}

char* dcmReader::readDicomPixelPointer(PixelType& type, int& count) {
  count = 0;
  if (!detail::libraryReady() || !m_state->file.isOpen()) return nullptr;
  State& s = *m_state;
  bool usable = false;
  s.guard([&] {
    if (!s.readLayout()) return;
    usable = true;
    if (s.decodeTried) return;
    s.decodeTried = true;
    std::string why;
    if (!detail::decodePixels(s.file, s.layout, 0, s.pixels, why)) {
      detail::logLine("dcmReader: cannot decode the pixels of \"%s\": %s", s.file.path().c_str(), why.c_str());
      s.pixels = detail::PixelBuffer();
    }
  });
  if (!usable || !s.pixels.data) return nullptr;
  type = static_cast<PixelType>(s.layout.type);
  count = static_cast<int>(s.pixels.elements);
  return reinterpret_cast<char*>(s.pixels.data.get());
}

bool dcmReader::convertToPngFile(const char* pngPath, bool useFileWindow) {
  if (!detail::libraryReady() || !m_state->file.isOpen() || !pngPath || !*pngPath) return false;
  State& s = *m_state;
  bool written = false;
  s.guard([&] {
    if (!s.readLayout()) return;
    // Frame 0 only: a thumbnail of a long cine loop must not decode every frame.
    detail::PixelBuffer firstFrame;
    const uint8_t* pixels = s.pixels.data.get();
    if (!pixels) {
      std::string why;
      if (!detail::decodePixels(s.file, s.layout, 1, firstFrame, why)) {
        detail::logLine("dcmReader: cannot decode the pixels of \"%s\": %s", s.file.path().c_str(), why.c_str());
        return;
      }
      pixels = firstFrame.data.get();
    }

    std::vector<unsigned char> rgb;
    if (s.layout.type == PIXEL_RGB24)
      rgb.assign(pixels, pixels + s.layout.elementsPerFrame() * 3);
    else
      renderGrey(s.file, s.layout, pixels, useFileWindow, rgb);

    written = detail::savePngByCallback(s.layout.columns, s.layout.rows, rgb.data(), pngPath);
    if (!written) detail::logLine("dcmReader: cannot write the PNG \"%s\" of \"%s\"", pngPath, s.file.path().c_str());
  });
  return written;
}

}  // namespace redIRI
