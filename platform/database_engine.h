#pragma once
// The database engine seam: repairs a database file in place.
#include <memory>
#include <string>

namespace platform {

class DatabaseEngine {
public:
    virtual ~DatabaseEngine() = default;
    // Returns only when done; on failure throws platform::Failure with a description.
    virtual void repair_database(const std::u16string& name) = 0;
};

class DatabaseEngineFactory {
public:
    virtual ~DatabaseEngineFactory() = default;
    // Throws platform::Failure when the engine cannot be created.
    virtual std::unique_ptr<DatabaseEngine> create() = 0;
};

}  // namespace platform
