#pragma once
// The database engine seam over our own repair engine (jet/).
#include "platform/database_engine.h"

namespace platform {

class JetEngine : public DatabaseEngine {
public:
    // Throws Failure with the engine's Spanish description when it cannot repair.
    void repair_database(const std::u16string& name) override;
};

class JetEngineFactory : public DatabaseEngineFactory {
public:
    // A repair stopped by a signal (a closed session, kill) leaves no half-written files
    // beside the database.
    JetEngineFactory();
    std::unique_ptr<DatabaseEngine> create() override;
};

}  // namespace platform
