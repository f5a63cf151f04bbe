// Pictures brought to power-of-two sides before they become textures with
// mip levels, as the web's drawing path needs them and as GLU scales them
// on the desktop.
#pragma once

#include <cstdint>
#include <vector>

// The power of two nearest `side` (halfway rounds up, as GLU's mipmap
// builder does), at most `maxSide` (itself a power of two); called by
// ScaleToPowerOfTwo.
int NearestPowerOfTwo(int side, int maxSide);

// Scales `height` packed rows of `width` pixels of `components` samples to
// `toWidth` x `toHeight`, each new pixel the mean of the area of the old
// picture it covers; called by CreatePictureTexture on the web.
std::vector<uint8_t> ScalePicture(const uint8_t* pixels, int width, int height, int components,
                                  int toWidth, int toHeight);
