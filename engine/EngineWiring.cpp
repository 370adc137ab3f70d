// Fills the factory table with the subsystems linked into the engine.
#include "EngineFactories.h"

void InstallEngineFactories() {
    EngineFactoryTable& table = EngineFactories();
    (void)table;
}
