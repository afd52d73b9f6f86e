// Thumbnails of DICOM images with the pixels' true shape.
#pragma once

#include <string>

// The DICOM library draws a thumbnail PNG one texel per pixel. Pixels that are not square
// (pixelSpacing is the Pixel Spacing text "row\column" in mm, the two differing) are given their
// true shape by stretching the picture at `png` along its finer axis, in place, as the viewer
// shows them; square, missing or implausible spacings leave the picture as it is. Worker-thread
// safe: it touches only that file.
void giveThumbnailPixelShape(const std::string& png, const char* pixelSpacing);
