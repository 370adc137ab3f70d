#include "EngineFactories.h"

EngineFactoryTable& EngineFactories() {
    static EngineFactoryTable table;
    return table;
}
