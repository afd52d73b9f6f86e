// The scene probe: a test-only window into what the program shows, for the end-to-end tests that
// drive the real program from outside its window.
//
// Off unless the environment names a file in QV_SCENE_PROBE. Then each SIGUSR1 asks for one
// report: on the next frame the main thread writes the running scene's visible nodes that carry a
// name or a text (their class, name, text, enabled state, opacity and rectangle) as one JSON
// document into that file, through a temporary file and a rename, so a reader never sees half of
// it. Rectangles are in window pixels with the origin at the window's top-left corner, the way an
// X client sees the window. The probe reads the scene and answers no input; it changes nothing but
// making the layout passes the coming frame's drawing would make anyway.
#pragma once

// Takes SIGUSR1 when QV_SCENE_PROBE is set: first thing in main, so that a request sent as soon as
// the window shows cannot end the process.
void armSceneProbe();
// Answers the requests from the director's scheduler (main thread, once the director runs).
void startSceneProbe();
// Stops answering (before the delegate's shutdown); later requests are ignored.
void stopSceneProbe();
