// Sets a delay through the class interface and reads it back through the C
// interface, on the port named by VAREK_SIM_PORT (class) and VAREK_SIM_C_PORT (C).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "varek/varek.h"
#include "varek/varek_ddg.h"

int main() {
    const char* class_port = std::getenv("VAREK_SIM_PORT");
    const char* c_port = std::getenv("VAREK_SIM_C_PORT");
    if (class_port == nullptr || c_port == nullptr) return 2;
    const std::string narrow(class_port);
    const std::basic_string<PortNameChar> name(narrow.begin(), narrow.end());  // ASCII names only here
    {
        VarekDDG ddg;
        if (!ddg.Open(name.c_str(), 115200) || !ddg.SetDelay(4, 4242)) {
            std::fprintf(stderr, "class interface failed on %s\n", class_port);
            return 1;
        }
    }
    VarekHandle handle = varek_init(c_port, 0);
    std::int64_t delay = 0;
    const bool ok = handle != nullptr &&
                    varek_read_timing_config(handle, 4, &delay, nullptr, nullptr, nullptr) == VAREK_OK &&
                    delay == 4242;
    varek_close(handle);
    std::printf("consumer: delay %lld read back: %s\n", static_cast<long long>(delay), ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
