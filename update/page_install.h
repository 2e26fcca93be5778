#pragma once

#include <QString>

#include <functional>

#include "update/update_environment.h"

namespace update {

// Asked when a file stays impossible to copy (`target` is in use, say): true to try again.
using RetryQuestion = std::function<bool(const QString& target)>;

// Copies the staged pages of tupdates/html/ready over view/device/ and clears the staging
// folder; true when every file is in place.
bool installPagePackage(const Environment& environment, const RetryQuestion& askRetry);

}  // namespace update
