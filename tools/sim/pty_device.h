// The host's end of the simulated line: a pseudo-terminal whose slave is the
// "serial port" the library opens, optionally reachable through a symlink
// (for Wine, $WINEPREFIX/dosdevices/comN).
#ifndef VAREK_SIM_PTY_DEVICE_H
#define VAREK_SIM_PTY_DEVICE_H

#include <string>

namespace varek::sim {

class PtyDevice {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // Points `link_path` at the device, replacing an older link there.
    void Link(const std::string& link_path);
    // Closes both ends and removes the link: the host's port hangs up.
    void Close();

    int master() const { return master_; }
    int slave_keeper() const { return slave_keeper_; }
    const std::string& device_path() const { return device_path_; }
    const std::string& link_path() const { return link_path_; }

private:
    int master_ = -1;
    // Held open so the master never sees a hang-up between the host's opens,
    // and so the line settings survive them.
    int slave_keeper_ = -1;
    std::string device_path_;
    std::string link_path_;
};

}  // namespace varek::sim

#endif
