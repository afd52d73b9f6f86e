#include "isNodeImageByShader.h"

#include "isClut.h"
#include "isShaderWindow.h"
#include "isSliceInfo.h"

#include <string>

namespace isImageSDK {

namespace {

// The program resources, found through the search paths ("imageSDK" is one of them).
const char* const kVertexProgramFile = "i.v";
const char* const kFragmentProgramFile = "id.f";
const char* const kSlowFrameMessage = "Rendering is too slow. Disable cubic shader program.";
// A frame slower than this switches every shader node to the CPU path.
constexpr double kSlowFrameSeconds = 0.3;
// The texture unit of the colour table.
constexpr GLuint kClutUnit = 1;

// The decoded text of a Base64 program file; "" when it cannot be read or decoded.
std::string decodedProgram(const char* file)
{
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string path = files->fullPathForFilename(file);
    if (path.empty())
        return std::string();
    const std::string encoded = files->getStringFromFile(path);
    if (encoded.empty())
        return std::string();
    unsigned char* decoded = nullptr;
    const int length = cocos2d::safeBase64Decode(reinterpret_cast<const unsigned char*>(encoded.data()),
                                                 static_cast<unsigned int>(encoded.size()), &decoded);
    std::string text;
    if (decoded && length > 0)
        text.assign(reinterpret_cast<const char*>(decoded), static_cast<size_t>(length));
    cocos2d::safeBase64Free(decoded);
    return text;
}

// The image program built from the two files (autoreleased), or null.
cocos2d::GLProgram* buildProgram()
{
    const std::string vertex = decodedProgram(kVertexProgramFile);
    const std::string fragment = decodedProgram(kFragmentProgramFile);
    if (vertex.empty() || fragment.empty())
        return nullptr;
    return cocos2d::GLProgram::createWithByteArrays(vertex.c_str(), fragment.c_str());
}

} // namespace

int isNodeImageByShader::shaderEnabled = 1;

bool isNodeImageByShader::isShaderAvailable()
{
    static const bool available = buildProgram() != nullptr;
    return available;
}

isNodeImageByShader::~isNodeImageByShader()
{
    deleteClutTexture();
}

bool isNodeImageByShader::init()
{
    if (!isNodeImage::init())
        return false;
    if (shaderEnabled != 1) {
        m_clutTexture = 0;
        m_cpuPath = true;
        return true;
    }
    cocos2d::GLProgram* program = buildProgram();
    if (!program)
        return false;
    setGLProgram(program);
    if (cocos2d::GL::isEnabled()) {
        glGenTextures(1, &m_clutTexture);
        m_clutTextureGeneration = cocos2d::GL::getContextGeneration();
    }
    m_cpuPath = false;
    m_clutTextureDirty = false;
    return true;
}

void isNodeImageByShader::deleteClutTexture()
{
    if (m_clutTexture)
        cocos2d::GL::deleteTextureSafely(m_clutTexture, m_clutTextureGeneration);
    m_clutTexture = 0;
}

void isNodeImageByShader::cleanup()
{
    // The colour-table texture stays until the node is freed: a node taken out of the scene
    // and put back keeps drawing on the GPU path.
    isNodeImage::cleanup();
}

cocos2d::Texture2D* isNodeImageByShader::createFrameTexture()
{
    isSliceInfo* record = getFrameRecord();
    if (!record)
        return nullptr;
    const int width = record->columns, height = record->rows;
    const void* bytes = nullptr;
    ssize_t length = 0;
    auto format = cocos2d::Texture2D::PixelFormat::AI88;
    if (record->pixelType == PIXEL_RGB) {
        // In place from byte n x 3 x f; nothing to show before the pixels are there.
        if (!record->pixelsLoaded || !record->pixels || width < 1 || height < 1 || m_frameIndex < 0 ||
            m_frameIndex >= record->frames)
            return nullptr;
        length = static_cast<ssize_t>(width) * height * 3;
        bytes = record->pixels + length * m_frameIndex;
        format = cocos2d::Texture2D::PixelFormat::RGB888;
    } else {
        float scale = 1.0f, offset = 0.0f;
        bytes = m_painter.packWords(record, m_frameIndex, &scale, &offset);
        if (!bytes)
            return nullptr;
        if (record->pixelType == PIXEL_FLOAT || record->pixelType == PIXEL_U8) {
            m_valueScale = scale;
            m_valueOffset = offset;
        }
        length = static_cast<ssize_t>(width) * height * 2;
    }
    auto* texture = new (std::nothrow) cocos2d::Texture2D();
    if (!texture)
        return nullptr;
    if (!texture->initWithData(bytes, length, format, width, height,
                               cocos2d::Size(static_cast<float>(width), static_cast<float>(height)))) {
        texture->release();
        return nullptr;
    }
    // 16-bit frames are fetched texel by texel and blended by the fragment program after the
    // two bytes of each value are put together; filtering the bytes apart would blend high and
    // low bytes separately. Colour frames are filtered as the CPU path's texture is.
    const GLuint filter = format == cocos2d::Texture2D::PixelFormat::AI88 ? GL_NEAREST : GL_LINEAR;
    texture->setTexParameters({filter, filter, GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE});
    texture->autorelease();
    return texture;
}

void isNodeImageByShader::setImage(isSliceInfo* record)
{
    if (m_cpuPath || !record || record->pixelType >= 5) {
        isNodeImage::setImage(record);
        return;
    }
    adoptRecord(record);
    if (record->pixelsLoaded) {
        // Keeps the table's ranges those of the frame's type, as the CPU path does.
        fitClutToPixelType(m_clut, record->pixelType);
        cocos2d::Texture2D* texture = createFrameTexture();
        if (!texture)
            return;
        showTexture(texture, record);
    } else {
        setScale(0.0001f, 0.0001f);
    }
    postFrameButtons(record);
    stopFramePlayback();
}

void isNodeImageByShader::refreshTexture()
{
    if (m_cpuPath) {
        isNodeImage::refreshTexture();
        return;
    }
    if (cocos2d::Texture2D* texture = createFrameTexture())
        showTexture(texture, nullptr);
}

void isNodeImageByShader::setClut(isClut* clut)
{
    isNodeImage::setClut(clut);
    if (!m_cpuPath) {
        m_clutTextureDirty = true;
        m_clutVersion = cocos2d::nextContentVersion();
    }
}

void isNodeImageByShader::markTextureDirty()
{
    // On the GPU path a window change needs no new texture.
    if (m_cpuPath)
        m_textureDirty = true;
}

void isNodeImageByShader::markClutDirty()
{
    if (m_cpuPath) {
        m_textureDirty = true;
    } else {
        m_clutTextureDirty = true;
        m_clutVersion = cocos2d::nextContentVersion();
    }
}

void isNodeImageByShader::disableShader()
{
    m_cpuPath = true;
    setGLProgramState(cocos2d::GLProgramState::getOrCreateWithGLProgramName(
        cocos2d::GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP));
    deleteClutTexture();
    isNodeImage::setImage(getFrameRecord());
    m_textureDirty = true;
}

void isNodeImageByShader::uploadClutTexture()
{
    if (!m_clutTextureDirty || m_cpuPath || !m_clut || !m_clutTexture)
        return;
    unsigned char rgb[256 * 3];
    m_clut->getRGBTable(rgb);
    cocos2d::GL::bindTexture2DN(kClutUnit, m_clutTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 256, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    // The program reads entries at their centres only (four per fragment): unfiltered fetches
    // give the same colours for less work.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    cocos2d::GL::activeTexture(GL_TEXTURE0);
    m_clutTextureDirty = false;
}

void isNodeImageByShader::setWindowUniforms(const isSliceInfo* record)
{
    cocos2d::GLProgramState* state = getGLProgramState();
    if (!state)
        return;
    const bool rgb = record->pixelType == PIXEL_RGB;
    isShaderWindow window;
    if (m_clut && !rgb)
        window = computeShaderWindow(*m_clut, record->pixelType, m_valueScale, m_valueOffset);
    state->setUniformInt("u_opacity", window.curve);
    state->setUniformFloat("u_wwMin", window.wwMin);
    state->setUniformFloat("u_wwLinear", window.linear);
    state->setUniformFloat("u_wwMax", window.wwMax);
    state->setUniformFloat("u_wwLogRatio", window.logRatio);
    state->setUniformInt("u_pt", rgb ? 2 : 1);
    state->setUniformInt("u_fs", 0);
    const float texelsWide = _texture ? static_cast<float>(_texture->getPixelsWide()) : 0.0f;
    const float texelsHigh = _texture ? static_cast<float>(_texture->getPixelsHigh()) : 0.0f;
    state->setUniformFloat("u_vw", texelsWide);
    state->setUniformFloat("u_vh", texelsHigh);
    state->setUniformInt("u_clutTexture", static_cast<int>(kClutUnit));
}

void isNodeImageByShader::draw(cocos2d::Renderer* renderer, const cocos2d::Mat4& transform, uint32_t flags)
{
    // Slow frames: the first check of every GPU draw.
    if (!m_cpuPath && shaderEnabled &&
        static_cast<double>(cocos2d::Director::getInstance()->getSecondsPerFrame()) > kSlowFrameSeconds) {
        cocos2d::log("%s", kSlowFrameMessage);
        shaderEnabled = 0;
        disableShader();
    }
    isSliceInfo* record = getFrameRecord();
    if (m_cpuPath || !record || record->pixelType >= 5 || !m_clut) {
        if (!m_cpuPath) {
            // Whatever the sprite shows without a slice (the placeholder picture) is a colour
            // picture: pass it through the program unchanged.
            if (cocos2d::GLProgramState* state = getGLProgramState())
                state->setUniformInt("u_pt", 2);
        }
        cocos2d::Sprite::draw(renderer, transform, flags);
        return;
    }
    if (!_texture || _rect.size.width <= 0.0f || _rect.size.height <= 0.0f || !getGLProgramState())
        return;

    // The sprite's culling test, its answer kept while the default camera sees an unchanged
    // transform.
    const cocos2d::Camera* visiting = cocos2d::Camera::getVisitingCamera();
    const bool defaultCamera = visiting && visiting == cocos2d::Camera::getDefaultCamera();
    if (!defaultCamera || !_insideBoundsKnown || (flags & FLAGS_DIRTY_MASK) != 0) {
        _insideBounds = renderer->checkVisibility(transform, _contentSize);
        _insideBoundsKnown = defaultCamera;
    }
    if (!_insideBounds)
        return;

    const bool is3D = isDepthTestEnabled();
    beginScissor();

    m_beforeDraw.init(_globalZOrder, transform, flags);
    m_beforeDraw.set3D(is3D);
    m_beforeDraw.setOwner(this);
    m_beforeDraw.func = [this] {
        uploadClutTexture();
        cocos2d::GL::bindTexture2DN(kClutUnit, m_clutTexture);
        cocos2d::GL::activeTexture(GL_TEXTURE0);
    };
    // For the renderer's still-frame check: the colour table it uploads and binds.
    m_beforeDraw.declareInputs();
    m_beforeDraw.addInputValue(m_clutVersion);
    m_beforeDraw.addInputValue(m_clutTexture);
    renderer->addCommand(&m_beforeDraw);

    setWindowUniforms(record);
    _trianglesCommand.init(_globalZOrder, _texture, getGLProgramState(), _blendFunc, _polyInfo.triangles, transform,
                           flags);
    _trianglesCommand.set3D(is3D);
    _trianglesCommand.setOwner(this);
    renderer->addCommand(&_trianglesCommand);

    m_afterDraw.init(_globalZOrder, transform, flags);
    m_afterDraw.set3D(is3D);
    m_afterDraw.setOwner(this);
    m_afterDraw.func = [] {
        cocos2d::GL::bindTexture2DN(kClutUnit, 0);
        cocos2d::GL::activeTexture(GL_TEXTURE0);
    };
    m_afterDraw.declareInputs();  // always the same
    renderer->addCommand(&m_afterDraw);

    endScissor();
}

} // namespace isImageSDK
