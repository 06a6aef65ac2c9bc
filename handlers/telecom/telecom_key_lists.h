#pragma once

#include "handlers/telecom/telecom_query_parsers.h"

// The typed key list of every telecom command with a GET parser of its own. Some keys are known
// to this gateway only by their CRC-32 value; they are named after it.
namespace telecom_keys {

#define TELECOM_KEY(name) using name = strc_crc<crc32_of(#name)>
TELECOM_KEY(api_key);
TELECOM_KEY(bs_ids);
TELECOM_KEY(devices);
TELECOM_KEY(timefrom);
TELECOM_KEY(timeto);
TELECOM_KEY(time_saved);
TELECOM_KEY(limit);
TELECOM_KEY(offset);
TELECOM_KEY(lock);
TELECOM_KEY(snr);
TELECOM_KEY(period);
TELECOM_KEY(dl_status);
TELECOM_KEY(timezone_offset);
TELECOM_KEY(clear);
TELECOM_KEY(freq_plan);
TELECOM_KEY(type);
TELECOM_KEY(station_id);
TELECOM_KEY(modem_id);
TELECOM_KEY(time_detected);
TELECOM_KEY(iter);
TELECOM_KEY(f_ack);
TELECOM_KEY(f_system);
TELECOM_KEY(frequency);
TELECOM_KEY(dl_phy);
#undef TELECOM_KEY

template <std::uint32_t K>
using crc = strc_crc<K>;

template <class Key>
using A = query_key<Key, ArrayParser>;
template <class Key>
using I = query_key<Key, IntParser>;

} // namespace telecom_keys

namespace telecom_query {
using namespace telecom_keys;

using publishall = ParametricGetQueryParser<A<api_key>, A<crc<3502988656u>>, A<bs_ids>>;

using time_sync_unlock = ParametricGetQueryParser<I<lock>, A<api_key>>;

using messages = ParametricGetQueryParser<A<crc<2794878683u>>, A<bs_ids>, A<api_key>, A<devices>,
    I<timefrom>, I<timeto>, I<time_saved>, I<limit>>;

using stinfo = ParametricGetQueryParser<A<bs_ids>, A<api_key>, A<crc<3502988656u>>, I<snr>,
    I<crc<2317008269u>>, I<crc<3406207076u>>, I<crc<3016914599u>>, I<crc<2966866806u>>,
    I<crc<1590376123u>>, I<crc<3419259950u>>, I<crc<3155637448u>>>;

using ststats
    = ParametricGetQueryParser<A<bs_ids>, I<timefrom>, I<timeto>, I<limit>, I<period>, A<api_key>>;

using sthistory = ParametricGetQueryParser<A<bs_ids>, I<timefrom>, I<timeto>, I<limit>, A<api_key>>;

using bs = ParametricGetQueryParser<A<bs_ids>, A<api_key>, I<crc<2203940018u>>, I<limit>, I<offset>,
    I<dl_status>, I<timezone_offset>, I<crc<3709939511u>>, I<crc<1305902345u>>, I<crc<4281529954u>>,
    I<crc<1715185624u>>, I<crc<1421627801u>>, I<crc<3451191331u>>, I<crc<459626137u>>,
    I<crc<2188117795u>>, I<crc<1633563677u>>, I<crc<4166477223u>>, I<crc<2369484611u>>,
    I<crc<338831097u>>>;

using device = ParametricGetQueryParser<A<crc<3502988656u>>, A<api_key>, I<crc<3463121497u>>,
    I<clear>, I<freq_plan>, I<limit>, I<offset>, I<crc<1923242007u>>, I<crc<1261878829u>>,
    I<crc<3675459543u>>>;

using deletemessage = ParametricGetQueryParser<I<type>, A<api_key>, I<station_id>, I<modem_id>,
    I<time_detected>, I<iter>>;

using deletedevice = ParametricGetQueryParser<A<crc<3502988656u>>, A<api_key>>;

using deletestation = ParametricGetQueryParser<A<bs_ids>, A<api_key>>;

using send_dl = ParametricGetQueryParser<I<modem_id>, I<f_ack>, I<f_system>, I<station_id>,
    I<crc<3991214886u>>, I<frequency>, I<crc<1655102503u>>, I<dl_phy>>;

using dl_messages = ParametricGetQueryParser<A<bs_ids>, A<api_key>, A<devices>, A<crc<1274027537u>>,
    I<timefrom>, I<timeto>, I<limit>>;

using devsnr = ParametricGetQueryParser<A<crc<3502988656u>>, A<api_key>, A<crc<2753689520u>>>;

} // namespace telecom_query
