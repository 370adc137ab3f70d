// How the engine as the program uses it is put together: every file system
// linked into the engine library contributes its searcher row
// (SearcherRow.h), and with it its factories and the services it provides
// (EngineServices.h). The core never calls a file system directly; a
// searcher whose file system is not built cannot be created, exactly as
// when its factory fails.
#pragma once

#include "EngineServices.h"
#include "SearcherRow.h"

// Installs the rows of every file system linked into the engine library and
// runs their install hooks. Called once at start-up, before any scan.
void InstallEngineFactories();
