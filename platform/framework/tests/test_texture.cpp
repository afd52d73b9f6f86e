// Textures, image decoding and encoding, and the texture cache's asynchronous loads, headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"
#include "support/TempDir.h"

USING_NS_CC;

namespace {

// ----- independent writers (libpng / libjpeg directly), so that decoding is not checked only
// against our own encoder

void writePng(const std::string& path, int w, int h, int colorType, int bitDepth, const std::vector<unsigned char>& data,
              const std::vector<png_color>& palette = {}, const std::vector<unsigned char>& trns = {})
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), bitDepth, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) {
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    }
    if (!trns.empty()) {
        png_set_tRNS(png, info, trns.data(), int(trns.size()), nullptr);
    }
    png_write_info(png, info);
    const size_t rowBytes = data.size() / size_t(h);
    for (int y = 0; y < h; ++y) {
        png_write_row(png, data.data() + size_t(y) * rowBytes);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

std::vector<unsigned char> jpegBytes(int w, int h, int components, J_COLOR_SPACE space,
                                     const std::vector<unsigned char>& pixels)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + cinfo.next_scanline * size_t(w) * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> out(buffer, buffer + size);
    free(buffer);
    return out;
}

std::vector<unsigned char> fileBytes(const std::string& path)
{
    const std::string s = qvtest::readFile(path);
    return std::vector<unsigned char>(s.begin(), s.end());
}

class TextureTest : public qvtest::HeadlessDirectorTest {
protected:
    // Steps frames until done() or about two seconds of polling.
    void stepUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            director->stepFrame(1.0f / 60);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    qvtest::TempDir dir;
};

TEST_F(TextureTest, PngVariantsDecodeToPremultipliedRgbOrRgba)
{
    // RGBA with one half-transparent pixel.
    writePng(dir / "rgba.png", 2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {200, 100, 50, 128, 10, 20, 30, 255});
    Image rgba;
    ASSERT_TRUE(rgba.initWithImageFile(dir / "rgba.png"));
    EXPECT_EQ(rgba.getFileType(), Image::Format::PNG);
    EXPECT_TRUE(rgba.hasAlpha());
    EXPECT_TRUE(rgba.isPremultipliedAlpha());
    const std::vector<unsigned char> expected = {100, 50, 25, 128, 10, 20, 30, 255};
    EXPECT_EQ(std::vector<unsigned char>(rgba.getData(), rgba.getData() + rgba.getDataLen()), expected);

    // Grey becomes RGB; grey+alpha becomes RGBA.
    writePng(dir / "grey.png", 3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 128, 255});
    Image grey;
    ASSERT_TRUE(grey.initWithImageFile(dir / "grey.png"));
    EXPECT_FALSE(grey.hasAlpha());
    EXPECT_EQ(std::vector<unsigned char>(grey.getData(), grey.getData() + grey.getDataLen()),
              (std::vector<unsigned char>{0, 0, 0, 128, 128, 128, 255, 255, 255}));
    writePng(dir / "ga.png", 1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {255, 0});
    Image ga;
    ASSERT_TRUE(ga.initWithImageFile(dir / "ga.png"));
    EXPECT_EQ(std::vector<unsigned char>(ga.getData(), ga.getData() + 4), (std::vector<unsigned char>{0, 0, 0, 0}));

    // Palette with a transparent entry.
    writePng(dir / "pal.png", 2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}, {{255, 0, 0}, {0, 0, 255}}, {255, 0});
    Image pal;
    ASSERT_TRUE(pal.initWithImageFile(dir / "pal.png"));
    EXPECT_TRUE(pal.hasAlpha());
    EXPECT_EQ(std::vector<unsigned char>(pal.getData(), pal.getData() + 8),
              (std::vector<unsigned char>{255, 0, 0, 255, 0, 0, 0, 0}));

    // 16-bit keeps the high byte; odd width 3.
    writePng(dir / "16.png", 3, 1, PNG_COLOR_TYPE_RGB, 16,
             {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF, 0, 0, 0x80, 0x01, 0, 1, 0, 2, 0, 3});
    Image deep;
    ASSERT_TRUE(deep.initWithImageFile(dir / "16.png"));
    EXPECT_EQ(deep.getWidth(), 3);
    EXPECT_EQ(std::vector<unsigned char>(deep.getData(), deep.getData() + 9),
              (std::vector<unsigned char>{0x12, 0x56, 0x9A, 0xFF, 0x00, 0x80, 0, 0, 0}));
}

TEST_F(TextureTest, JpegGreyAndAdobeCmykBecomeRgb)
{
    std::vector<unsigned char> greyPixels(16 * 8);
    for (size_t i = 0; i < greyPixels.size(); ++i) {
        greyPixels[i] = static_cast<unsigned char>(i % 16 * 16);
    }
    const auto grey = jpegBytes(16, 8, 1, JCS_GRAYSCALE, greyPixels);
    Image image;
    ASSERT_TRUE(image.initWithImageData(grey.data(), ssize_t(grey.size())));
    EXPECT_EQ(image.getFileType(), Image::Format::JPG);
    EXPECT_FALSE(image.hasAlpha());
    ASSERT_EQ(image.getDataLen(), 16 * 8 * 3);
    for (int i = 0; i < 16 * 8; ++i) {
        const unsigned char* p = image.getData() + i * 3;
        EXPECT_EQ(p[0], p[1]);
        EXPECT_EQ(p[1], p[2]);
        EXPECT_NEAR(p[0], greyPixels[size_t(i)], 3);
    }

    // libjpeg marks CMYK with the Adobe marker, whose convention is 255 = no ink.
    std::vector<unsigned char> cmyk;
    for (int i = 0; i < 64; ++i) {
        const bool cyan = i < 32;
        cmyk.insert(cmyk.end(), {static_cast<unsigned char>(cyan ? 0 : 255), 255, 255, 255});
    }
    const auto cmykJpeg = jpegBytes(8, 8, 4, JCS_CMYK, cmyk);
    ASSERT_TRUE(image.initWithImageData(cmykJpeg.data(), ssize_t(cmykJpeg.size())));
    const unsigned char* top = image.getData();
    const unsigned char* bottom = image.getData() + 63 * 3;
    EXPECT_LT(top[0], 8);
    EXPECT_GT(top[1], 247);
    EXPECT_GT(top[2], 247);
    EXPECT_GT(bottom[0], 247);
}

TEST_F(TextureTest, BadImageDataFailsCleanly)
{
    Image image;
    EXPECT_FALSE(image.initWithImageData(nullptr, 0));
    const std::string text = "<plist>not an image</plist>";
    EXPECT_FALSE(image.initWithImageData(reinterpret_cast<const unsigned char*>(text.data()), ssize_t(text.size())));

    writePng(dir / "ok.png", 4, 4, PNG_COLOR_TYPE_RGB, 8, std::vector<unsigned char>(48, 7));
    auto png = fileBytes(dir / "ok.png");
    for (size_t cut : {size_t(8), size_t(20), png.size() / 2, png.size() - 13}) {
        EXPECT_FALSE(image.initWithImageData(png.data(), ssize_t(cut))) << "cut at " << cut;
        EXPECT_EQ(image.getData(), nullptr);
    }
    auto garbled = png;
    for (size_t i = 33; i < garbled.size(); ++i) {
        garbled[i] = static_cast<unsigned char>(i * 37);
    }
    EXPECT_FALSE(image.initWithImageData(garbled.data(), ssize_t(garbled.size())));

    std::vector<unsigned char> fakeJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2, 3};
    EXPECT_FALSE(image.initWithImageData(fakeJpeg.data(), ssize_t(fakeJpeg.size())));

    EXPECT_FALSE(image.initWithImageFile(dir / "missing.png"));
}

TEST_F(TextureTest, SavedFilesRoundTripByExtension)
{
    // Straight RGBA in; the file holds straight values (within premultiply rounding).
    const std::vector<unsigned char> pixels = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255, 40, 80, 120, 255,
                                               10, 20, 30, 255, 200, 200, 200, 64};
    Image image;
    ASSERT_TRUE(image.initWithRawData(pixels.data(), ssize_t(pixels.size()), 3, 2, 8, false));
    ASSERT_TRUE(image.saveToFile(dir / "a.png", false));
    ASSERT_TRUE(image.saveToFile(dir / "b.PNG", true));
    ASSERT_TRUE(image.saveToFile(dir / "c.jpg"));
    ASSERT_TRUE(image.saveToFile(dir / "d.jpeg"));
    EXPECT_FALSE(image.saveToFile(dir / "e.bmp"));
    EXPECT_FALSE(image.saveToFile(dir / "no/such/folder/f.png"));

    // Read back with libpng's own reader.
    png_image read;
    std::memset(&read, 0, sizeof(read));
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&read, (dir / "a.png").c_str()));
    read.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> back(PNG_IMAGE_SIZE(read));
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, back.data(), 0, nullptr));
    ASSERT_EQ(back.size(), pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        EXPECT_NEAR(back[i], pixels[i], 1) << i;
    }

    Image rgb;
    ASSERT_TRUE(rgb.initWithImageFile(dir / "b.PNG"));
    EXPECT_FALSE(rgb.hasAlpha());
    Image jpg;
    ASSERT_TRUE(jpg.initWithImageFile(dir / "d.jpeg"));
    EXPECT_EQ(jpg.getFileType(), Image::Format::JPG);
    EXPECT_EQ(jpg.getWidth(), 3);
    EXPECT_EQ(jpg.getHeight(), 2);
    EXPECT_EQ(qvtest::countEntries(dir.path()), 4); // no temporary or partial files left
}

TEST_F(TextureTest, HeadlessTextureKeepsSizesAndPixels)
{
    // RGB888 of odd width: rows are tightly packed.
    const int w = 511;
    const int h = 3;
    std::vector<unsigned char> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<unsigned char>(i * 7);
    }
    auto* texture = new Texture2D();
    texture->autorelease();
    ASSERT_TRUE(texture->initWithData(rgb.data(), ssize_t(rgb.size()), Texture2D::PixelFormat::RGB888, w, h,
                                      Size(float(w), float(h))));
    EXPECT_EQ(texture->getName(), 0u);
    EXPECT_EQ(texture->getPixelsWide(), w);
    EXPECT_EQ(texture->getPixelsHigh(), h);
    EXPECT_EQ(texture->getPixelDataForTest(), rgb);

    // A sub-image update replaces exactly its block.
    const unsigned char block[2 * 3] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(texture->updateWithData(block, 509, 2, 2, 1));
    std::vector<unsigned char> expected = rgb;
    std::copy(block, block + 6, expected.begin() + (2 * w + 509) * 3);
    EXPECT_EQ(texture->getPixelDataForTest(), expected);
    EXPECT_FALSE(texture->updateWithData(block, 510, 2, 2, 1));

    // Lengths are checked against the format.
    auto* ai = new Texture2D();
    ai->autorelease();
    std::vector<unsigned char> words(5 * 2 * 2 - 1);
    EXPECT_FALSE(ai->initWithData(words.data(), ssize_t(words.size()), Texture2D::PixelFormat::AI88, 5, 2, Size(5, 2)));
    words.push_back(0);
    EXPECT_TRUE(ai->initWithData(words.data(), ssize_t(words.size()), Texture2D::PixelFormat::AI88, 5, 2, Size(5, 2)));
    EXPECT_FALSE(ai->initWithData(words.data(), ssize_t(words.size()), Texture2D::PixelFormat::AI88, 0, 2, Size(0, 2)));

    Configuration::getInstance()->setMaxTextureSizeForTest(4);
    EXPECT_FALSE(ai->initWithData(words.data(), ssize_t(words.size()), Texture2D::PixelFormat::AI88, 5, 2, Size(5, 2)));
    Configuration::getInstance()->setMaxTextureSizeForTest(8192);
}

TEST_F(TextureTest, CacheKeysAreFullPaths)
{
    writePng(dir / "t.png", 2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, std::vector<unsigned char>(16, 255));
    FileUtils::getInstance()->setSearchPaths({dir.path()});
    TextureCache* cache = director->getTextureCache();
    Texture2D* byName = cache->addImage("t.png");
    ASSERT_NE(byName, nullptr);
    EXPECT_TRUE(byName->hasPremultipliedAlpha());
    EXPECT_EQ(cache->addImage(dir / "t.png"), byName);
    EXPECT_EQ(cache->getTextureForKey("t.png"), byName);
    EXPECT_EQ(cache->getTextureForKey(dir / "t.png"), byName);
    EXPECT_EQ(cache->addImage("missing.png"), nullptr);
    cache->removeTextureForKey("t.png");
    EXPECT_EQ(cache->getTextureForKey(dir / "t.png"), nullptr);
    FileUtils::getInstance()->setSearchPaths({});
}

TEST_F(TextureTest, AsyncCallbacksRunOnceEachOnTheMainThread)
{
    writePng(dir / "good.png", 3, 3, PNG_COLOR_TYPE_RGB, 8, std::vector<unsigned char>(27, 9));
    qvtest::writeFile(dir / "corrupt.png", "\x89PNG\r\n\x1a\nnot really");
    TextureCache* cache = director->getTextureCache();

    std::vector<std::string> calls;
    const auto mainThread = std::this_thread::get_id();
    bool offMain = false;
    auto record = [&](const std::string& tag) {
        return [&, tag](Texture2D* t) {
            offMain |= std::this_thread::get_id() != mainThread;
            calls.push_back(tag + (t ? ":tex" : ":null"));
        };
    };
    cache->addImageAsync(dir / "good.png", record("a"));
    cache->addImageAsync(dir / "corrupt.png", record("bad"));
    cache->addImageAsync(dir / "good.png", record("b"));
    cache->addImageAsync(dir / "nothing-here.png", record("missing"));
    EXPECT_TRUE(calls.empty()); // never inside the call
    stepUntil([&] { return calls.size() >= 4; });
    for (int i = 0; i < 3; ++i) {
        director->stepFrame(1.0f / 60); // nothing more arrives
    }
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (std::vector<std::string>{"a:tex", "b:tex", "bad:null", "missing:null"}));
    EXPECT_FALSE(offMain);
    EXPECT_EQ(cache->getTextureCount(), 1u);
    EXPECT_EQ(cache->getPendingAsyncCount(), 0u);

    // Duplicates of one file are answered in request order with the same texture.
    calls.clear();
    writePng(dir / "second.png", 1, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3});
    Texture2D* first = nullptr;
    Texture2D* second = nullptr;
    cache->addImageAsync(dir / "second.png", [&](Texture2D* t) { first = t; calls.push_back("1"); });
    cache->addImageAsync(dir / "second.png", [&](Texture2D* t) { second = t; calls.push_back("2"); });
    stepUntil([&] { return calls.size() >= 2; });
    EXPECT_EQ(calls, (std::vector<std::string>{"1", "2"}));
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(first, second);

    // Already cached: answered at the next update, not inside the call.
    int cachedCalls = 0;
    cache->addImageAsync(dir / "good.png", [&](Texture2D* t) { cachedCalls += t ? 1 : 100; });
    EXPECT_EQ(cachedCalls, 0);
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(cachedCalls, 1);
}

TEST_F(TextureTest, DroppedRequesterIsNeverCalledButTheCacheFills)
{
    writePng(dir / "late.png", 2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6});
    TextureCache* cache = director->getTextureCache();
    int requesterA = 0;
    int requesterB = 0;
    int aCalls = 0;
    int bCalls = 0;
    cache->addImageAsync(dir / "late.png", [&](Texture2D*) { ++aCalls; }, &requesterA);
    cache->addImageAsync(dir / "late.png", [&](Texture2D*) { ++bCalls; }, &requesterB);
    cache->unbindAllImageAsyncForRequester(&requesterA);
    stepUntil([&] { return bCalls > 0; });
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(aCalls, 0);
    EXPECT_EQ(bCalls, 1);
    EXPECT_NE(cache->getTextureForKey(dir / "late.png"), nullptr);
}

TEST_F(TextureTest, DirectorTeardownWithLoadsInFlightIsClean)
{
    for (int i = 0; i < 8; ++i) {
        writePng(dir / ("f" + std::to_string(i) + ".png"), 64, 64, PNG_COLOR_TYPE_RGB, 8,
                 std::vector<unsigned char>(64 * 64 * 3, static_cast<unsigned char>(i)));
    }
    int calls = 0;
    for (int i = 0; i < 8; ++i) {
        director->getTextureCache()->addImageAsync(dir / ("f" + std::to_string(i) + ".png"),
                                                   [&](Texture2D*) { ++calls; });
    }
    // Torn down at once: the loader is joined, queued completions dropped, nothing leaks.
    Director::destroyInstance();
    EXPECT_EQ(calls, 0);
    director = Director::getInstance();
    director->setOpenGLView(GLViewHeadless::create(Size(960, 640)));
}

} // namespace
