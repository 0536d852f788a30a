#pragma once

// How a stored column's values are bound, read and shown: whole numbers (times are seconds since
// the epoch), texts, or flags stored as 0 and 1.
enum class ColumnKind { Integer, Text, Flag };
