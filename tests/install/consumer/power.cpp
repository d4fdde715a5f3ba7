// The same user program in C++: the header must work from both languages.
#include <snLib.h>

#include <cerrno>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " DEVICE OUTPUT\n";
        return 2;
    }
    const auto output = static_cast<uint16_t>(std::stoul(argv[2]));
    initSensorNodeLib();
    SensorNode* node = openSensorNode(argv[1], 115200, 1);
    if (node == nullptr || snPower(node, output, 1) != 0) {
        std::cerr << "power " << output << ": errno " << errno << '\n';
        return 1;
    }
    std::cout << "output " << output << " on: " << snPowerIsOn(node, output) << '\n';
    return closeSensorNode(node) == 0 ? 0 : 1;
}
