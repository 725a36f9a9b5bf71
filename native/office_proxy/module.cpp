#include "common/coroutine.hpp"

PYBIND11_MODULE(office_proxy, m) {
    m.doc() = "Office.js object bridge: wire serializer, synchronous messaging and Office.js object proxies.";
    zm::init_common(m);
}
