#include "handlers/modem/dl_queue_change.h"

#include "json/compact_json.h"
#include "json/compact_json_number.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string_view>

namespace {

// QJsonValue::toDouble(0.5) of an element, read back from its compact text, which holds the
// shortest digits of the double Qt keeps.
double element_number(std::string_view element)
{
    const char first = element.front();
    if (first != '-' && (first < '0' || first > '9'))
        return 0.5;
    return read_json_number(element.data(), element.data() + element.size()).value();
}

// QString::number(number), written into `units`: the digits of put_json_whole, widened.
QStringView decimal_text(int number, char16_t (&units)[11])
{
    char digits[11];
    const char* first = put_json_whole(std::end(digits), number);
    char16_t* at = std::end(units) - (std::end(digits) - first);
    std::copy(first, static_cast<const char*>(std::end(digits)), at);
    return QStringView(at, std::end(units) - at);
}

// Hands `take` the text of each element of a compact array.
template <class Take>
void for_each_element(std::string_view array, Take&& take)
{
    const char* at = array.data() + 1;
    if (*at == ']')
        return;
    for (;;) {
        const char* end = json_value_end(at);
        take(std::string_view(at, size_t(end - at)));
        if (*end == ']')
            return;
        at = end + 1;
    }
}

// Adds the numbers of the "all"."modem_id" array as Qt would find it, or false when the body
// does not name its modems so. The elements are counted first, so that the check knows how many
// ids it is given.
bool listed_numbers(const compact_json& body, modem_ownership::id_check& modems)
{
    if (body.size() == 0 || body.key(0) != QLatin1String("all"))
        return false;
    const int all = body.index_of(u"all");
    if (all < 0 || body.value_kind(all) != compact_json::kind::object)
        return false;
    const compact_json members = body.member_json(all);
    const int listed = members.index_of(u"modem_id");
    if (listed < 0 || members.value_kind(listed) != compact_json::kind::array)
        return false;
    const std::string_view array = members.value_text(listed);
    std::size_t elements = 0;
    for_each_element(array, [&](std::string_view) { ++elements; });
    modems.expect(elements + std::size_t(body.size()));
    char16_t units[11];
    for_each_element(array, [&](std::string_view element) {
        const double number = element_number(element);
        const bool whole = std::floor(number) == number && number >= std::numeric_limits<int>::min()
            && number <= std::numeric_limits<int>::max();
        modems.add_copy(decimal_text(whole ? int(number) : 0, units));
    });
    return true;
}

} // namespace

void queue_change_modems(const compact_json& body, modem_ownership::id_check& modems)
{
    const bool listed = listed_numbers(body, modems);
    if (!listed)
        modems.expect(std::size_t(body.size()));
    for (int i = listed ? 1 : 0; i < body.size(); ++i)
        modems.add_copy(body.key(i));
}
