#pragma once
// What the studio's tests share: a copy of the default data set's loose files in a scratch folder.
#include <unistd.h>

#include <string>

#include "run_command.h"
#include "scratch_dir.h"
#include "test_files.h"

namespace studiotest {

inline std::string defaultData() {
    return std::string(QV_SOURCE_DIR) + "/assets/data";
}

inline bool haveDefaultData() {
    return access((defaultData() + "/plinthar.scene").c_str(), R_OK) == 0;
}

// A scratch folder holding "data", a copy of the default data set's loose files (no archive).
class DataCopy {
public:
    DataCopy() : dir_("qv-studio") {
        ok_ =
            dir_.ok() && qvtest::runCommand("cp -r '" + defaultData() + "' '" + dir_.file("data") + "'") == 0;
    }
    bool ok() const { return ok_; }
    std::string folder() const { return dir_.file(""); }
    std::string data() const { return dir_.file("data"); }
    std::string file(const std::string& name) const { return dir_.file("data/" + name); }

private:
    qvtest::ScratchDir dir_;
    bool ok_ = false;
};

}  // namespace studiotest
