// The drawing tests' program: one window with a GL context for every test.
#include "GLTestSupport.h"

USING_NS_CC;

namespace qvgl {

::std::ostream& operator<<(::std::ostream& os, const Pixel& p)
{
    return os << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}

std::vector<Pixel> pixels(int x, int y, int w, int h)
{
    std::vector<unsigned char> rgba(size_t(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<Pixel> out(size_t(w) * h);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = Pixel{rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]};
    }
    return out;
}

Pixel pixelAt(int x, int y)
{
    return pixels(x, y, 1, 1).front();
}

void GLTest::SetUp()
{
    director = Director::getInstance();
    director->setOpenGLView(window());
    director->setClearColor(Color4F(0, 0, 0, 1));
    win = director->getWinSize();
    scene = Scene::create();
    director->runWithScene(scene);
    frame();
}

void GLTest::TearDown()
{
    Director::destroyInstance();
}

} // namespace qvgl

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "framework-gl", 320, 240, qvtest::kMesaOnCallingThread);
}
