#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

// Apple-style XML property lists, the file form of settings domains and of a bundle's Info.plist.
// Values map to QVariant as: string <-> QString, integer <-> qint64, real <-> double, true/false <-> bool,
// data <-> QByteArray, dict <-> QVariantMap, array <-> QVariantList, date <-> QDateTime (UTC).
namespace PropertyList {

// Containers nested deeper than this make a document unreadable.
constexpr int kMaxNesting = 64;

// The parsed root value, or nothing when the text is not a property list (or nested too deeply).
std::optional<QVariant> fromXml(const QByteArray& xml);

// The XML document of a value; a value of a type a property list cannot hold is left out of its container.
QByteArray toXml(const QVariant& root);

// True when a value (or every value inside it) can be stored in a property list.
bool canRepresent(const QVariant& value);

} // namespace PropertyList
