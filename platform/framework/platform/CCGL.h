// OpenGL declarations for the framework layer.
//
// The GL scalar types (GLubyte, GLuint, GLfloat, ...) and enum values come from GLEW's header so
// that every module compiles the same way with or without a GL context. Including this header
// makes no GL call; in headless mode no GL function is ever called.
#pragma once

#include <GL/glew.h>
