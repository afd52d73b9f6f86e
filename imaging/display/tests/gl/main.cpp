// The display's drawing tests: one window with a GL context for the whole program.
#include "GLDisplay.h"

#include "isCamera.h"

namespace qvgl {

void GLDisplayTest::SetUp()
{
    cocos2d::Director::getInstance()->setOpenGLView(window());
    cocos2d::FileUtils::getInstance()->addSearchPath("imageSDK");
    rig.start();
}

void GLDisplayTest::TearDown()
{
    rig.stop();
}

void GLDisplayTest::viewSlice(const isImageSDK::isSliceInfo& record)
{
    const cocos2d::Mat4& m = record.matrix;
    const cocos2d::Vec3 c0(m.m[0], m.m[1], m.m[2]), c1(m.m[4], m.m[5], m.m[6]), c2(m.m[8], m.m[9], m.m[10]);
    // The middle of the pixels' centres: the middle of the picture, which reaches half a pixel
    // beyond the outer centres.
    cocos2d::Vec3 centre((record.columns - 1) * record.spacingX * 0.5f, (record.rows - 1) * record.spacingY * 0.5f,
                         0.0f);
    m.transformPoint(&centre);
    rig.camera->setPosition3D(centre - c2 * 1000.0f);
    rig.camera->lookAt(centre, -c1);
    rig.camera->setupProjection(60.0f, rig.win.width, rig.win.height, 100.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
}

std::vector<unsigned char> GLDisplayTest::readSlice(int columns, int rows)
{
    const int x0 = static_cast<int>(rig.win.width) / 2 - columns / 2;
    const int y0 = static_cast<int>(rig.win.height) / 2 - rows / 2;
    std::vector<unsigned char> rgba(static_cast<size_t>(columns) * rows * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x0, y0, columns, rows, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<unsigned char> rgb(static_cast<size_t>(columns) * rows * 3);
    for (int r = 0; r < rows; ++r) {
        const unsigned char* from = rgba.data() + static_cast<size_t>(rows - 1 - r) * columns * 4;
        unsigned char* to = rgb.data() + static_cast<size_t>(r) * columns * 3;
        for (int c = 0; c < columns; ++c)
            for (int k = 0; k < 3; ++k)
                to[c * 3 + k] = from[c * 4 + k];
    }
    return rgb;
}

} // namespace qvgl

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "display-gl", 400, 300, 0);
}
