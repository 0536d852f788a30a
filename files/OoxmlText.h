#pragma once

#include <QString>

// Workbook texts carry characters XML cannot hold (a carriage return, other control characters)
// as "_xHHHH_"; a text that itself holds such a pattern has its underscore written "_x005F_".
namespace OoxmlText {

// What a workbook writer that escapes control characters, but not the pattern, is given.
QString escapePatterns(const QString& text);
// The text a cell holds, from the stored form.
QString unescape(const QString& stored);

}  // namespace OoxmlText
