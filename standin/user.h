// Windowing subset of the stand-in: classes, windows, messages, message boxes, capture windows.
#pragma once
