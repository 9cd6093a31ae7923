// The line settings the host applied to the simulated port, as the tty holds
// them, so tests can check what an open really configured.
#ifndef VAREK_SIM_LINE_SETTINGS_H
#define VAREK_SIM_LINE_SETTINGS_H

#include <string>

namespace varek::sim {

// "baud=115200 bits=8 parenb=0 parodd=0 cmspar=0 stop=1 crtscts=0 ixon=0
// ixoff=0 echo=0 icanon=0", or an empty string when they cannot be read.
// A pseudo-terminal forces bits=8 and parenb=0 whatever was asked; the other
// fields are as the host set them.
std::string DescribeLineSettings(int tty_fd);

}  // namespace varek::sim

#endif
