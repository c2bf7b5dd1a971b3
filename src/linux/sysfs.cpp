#include "linux/sysfs.h"

void build_sysfs_view(const std::string&, reg_key&) {}
