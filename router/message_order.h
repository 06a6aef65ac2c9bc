#pragma once

#include <QVariant>

// Orderings that sort message lists newest first by one time field. Items holding the field
// come first, greatest value first; items without it follow, equivalent among themselves,
// so the orderings stay strict weak orders on mixed lists.
bool compare_time_saved(const QVariant& a, const QVariant& b);
bool compare_time_detected(const QVariant& a, const QVariant& b);
bool compare_posted_time(const QVariant& a, const QVariant& b);

inline bool time_saved_greater(const QVariant& a, const QVariant& b)
{
    return compare_time_saved(a, b);
}
inline bool time_detected_greater(const QVariant& a, const QVariant& b)
{
    return compare_time_detected(a, b);
}
inline bool posted_time_greater(const QVariant& a, const QVariant& b)
{
    return compare_posted_time(a, b);
}
