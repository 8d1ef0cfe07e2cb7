// COM initialisation and the common file-open dialog, run on the desktop's
// file chooser. Included through platform/win32.h.
#pragma once
