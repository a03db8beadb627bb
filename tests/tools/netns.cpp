#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>

namespace testns {

bool isRoot() { return geteuid() == 0; }

int run(const std::string& command) { return std::system(command.c_str()); }

Namespace::Namespace(const std::string& name, const std::string& tap) : name_(name)
{
    run("ip netns del " + name_ + " 2>/dev/null");
    const std::string in = "ip netns exec " + name_ + " ";
    ok_ = run("ip netns add " + name_) == 0
        && run(in + "ip tuntap add dev " + tap + " mode tap") == 0
        && run(in + "ip link set dev " + tap + " address 02:00:00:00:00:02") == 0
        && run(in + "ip addr add 10.0.0.2/24 dev " + tap) == 0
        && run(in + "ip link set dev lo up") == 0
        && run(in + "ip link set dev " + tap + " up") == 0
        && run(in + "sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf." + tap + ".rp_filter=0") == 0;
}

Namespace::~Namespace() { run("ip netns del " + name_ + " 2>/dev/null"); }

bool Namespace::enter() const
{
    const int fd = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool entered = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return entered;
}

} // namespace testns
