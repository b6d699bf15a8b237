#include <gtest/gtest.h>

#include <string>

#include "installer/flow.h"
#include "runtime/process.h"

// The runtime's process frame wants a module table; these tests start no modules.
const zuva::Module zuva::module_table[zuva::module_count] = {{nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};

namespace {

std::string command_for(const std::string& device, std::string_view mount_point) {
    zuva::BoundedString name{255};
    zuva::assign(name, device);
    return std::string(zuva::view(zuva::mount_command(name, mount_point)));
}

TEST(MountCommand, IsTheDeviceAsTypedBetweenMountAndTheMountPoint) {
    EXPECT_EQ(command_for("/dev/hdc", " /cdrom"), "mount /dev/hdc /cdrom");
    EXPECT_EQ(command_for("/dev/hda1", " /drive"), "mount /dev/hda1 /drive");
    // Only the exact "s" skips a mount; these are device names like any other.
    EXPECT_EQ(command_for("S", " /cdrom"), "mount S /cdrom");
    EXPECT_EQ(command_for(" s", " /cdrom"), "mount  s /cdrom");
}

TEST(MountCommand, EmptyDeviceLeavesTwoSpacesBeforeTheMountPoint) {
    EXPECT_EQ(command_for("", " /cdrom"), "mount  /cdrom");
    EXPECT_EQ(command_for("", " /drive"), "mount  /drive");
}

TEST(MountCommand, LongDeviceNamesAreCutAtTwoHundredFiftyFiveCharacters) {
    const std::string d242(242, 'a'), d243(243, 'b'), d248(248, 'c'), d249(249, 'd'), d255(255, 'e');
    EXPECT_EQ(command_for(d242, " /cdrom"), "mount " + d242 + " /cdrom");
    EXPECT_EQ(command_for(d243, " /cdrom"), "mount " + d243 + " /cdro");
    EXPECT_EQ(command_for(d248, " /drive"), "mount " + d248 + " ");
    EXPECT_EQ(command_for(d249, " /drive"), "mount " + d249);
    EXPECT_EQ(command_for(d255, " /cdrom"), "mount " + d255.substr(0, 249));
    for (const auto* device : {&d242, &d243, &d248, &d249, &d255})
        EXPECT_EQ(command_for(*device, " /cdrom").size(), 255u) << device->size();
}

}  // namespace
