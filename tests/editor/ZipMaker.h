#pragma once
// Writes ".zip" archives for the tests with libzip.

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace zip_maker {

// Entry names are "/"-separated paths inside the archive. Throws
// std::runtime_error when the archive can't be written.
void MakeZip(const QString& path, const std::vector<std::pair<QString, QByteArray>>& entries);

QByteArray ReadFile(const QString& path);

}  // namespace zip_maker
