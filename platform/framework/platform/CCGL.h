// OpenGL declarations for the framework layer.
//
// The GL scalar types (GLubyte, GLuint, GLfloat, ...) and enum values come from GLEW's header so
// that every module compiles the same way with or without a GL context. Including this header
// makes no GL call; in headless mode no GL function is ever called.
// GLEW must be included before any other GL header: include this header first and GLFW with
// GLFW_INCLUDE_NONE defined.
#pragma once

#include <GL/glew.h>
