// The framework's extensions: the hot-update manager and its events.
#pragma once

#include "extensions/CCAssetsManagerEx.h"
#include "extensions/CCEventAssetsManagerEx.h"
#include "extensions/CCEventListenerAssetsManagerEx.h"
#include "extensions/CCMD5.h"
#include "extensions/CCManifest.h"
