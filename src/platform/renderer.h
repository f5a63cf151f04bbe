// The rendering context: a GL compatibility context current on the main
// thread, drawing into the virtual screen.
#pragma once

struct SDL_Window;

extern void* g_glContext; // the GL context, current for the whole run

// Creates the GL context for g_window, sets up the virtual screen, the
// initial GL state and the projection; requests a quit when the drawing
// surface cannot be had. Called by InitDemo.
void InitRenderer(int width, int height);

// Checks the window's drawing surface (RGBA, double-buffered unless it is
// the offscreen window), sets up the virtual screen with colour and depth
// and gets the drawing path ready; shows the error and returns false when
// any of them fails. Called by InitRenderer.
bool SetupPixelFormat(SDL_Window* window);

// Sets the viewport and the 45-degree perspective for a client size in the
// virtual screen's units (the viewport covers its pixels for them); a height
// of 0 counts as 1. Called by InitRenderer.
void SetProjection(int width, int height);

// Releases the virtual screen and the GL context; called by ShutdownDemo.
void ReleaseRenderer();
