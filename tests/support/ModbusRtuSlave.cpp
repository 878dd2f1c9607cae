#include "ModbusRtuSlave.h"

#include "SlaveMap.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

ModbusRtuSlave::ModbusRtuSlave(const std::string& devicePath, int baud, int stationId,
                               int exceptionPauseMs) {
    context = modbus_new_rtu(devicePath.c_str(), baud, 'N', 8, 1);
    if (!context)
        throw std::runtime_error(std::string("modbus_new_rtu: ") + modbus_strerror(errno));
    modbus_set_slave(context, stationId);
    if (exceptionPauseMs >= 0)
        modbus_set_response_timeout(context, static_cast<uint32_t>(exceptionPauseMs / 1000),
                                    static_cast<uint32_t>(exceptionPauseMs % 1000 * 1000));
    if (modbus_connect(context) != 0) {
        std::string why = modbus_strerror(errno);
        modbus_free(context);
        throw std::runtime_error("modbus_connect " + devicePath + ": " + why);
    }
    mapping = modbus_mapping_new(SlaveMap::size, SlaveMap::size, SlaveMap::size, SlaveMap::size);
    stopFd = eventfd(0, EFD_CLOEXEC);
    if (!mapping || stopFd < 0) {
        if (mapping) modbus_mapping_free(mapping);
        modbus_close(context);
        modbus_free(context);
        throw std::runtime_error("cannot set up the slave's map");
    }
    for (int i = 0; i < SlaveMap::size; ++i) {
        mapping->tab_bits[i] = SlaveMap::Coil(i);
        mapping->tab_input_bits[i] = SlaveMap::DiscreteInput(i);
        mapping->tab_registers[i] = SlaveMap::HoldingRegister(i);
        mapping->tab_input_registers[i] = SlaveMap::InputRegister(i);
    }
    worker = std::thread([this] { Serve(); });
}

ModbusRtuSlave::~ModbusRtuSlave() {
    Stop();
    close(stopFd);
    modbus_mapping_free(mapping);
}

void ModbusRtuSlave::Stop() {
    if (!worker.joinable()) return;
    uint64_t one = 1;
    (void)!write(stopFd, &one, sizeof one);
    worker.join();
    modbus_close(context);
    modbus_free(context);
    context = nullptr;
}

void ModbusRtuSlave::Serve() {
    // Block on the device and the stop event together; modbus_receive is only
    // entered once a request has begun to arrive, so stopping never waits.
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {modbus_get_socket(context), POLLIN, 0}};
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (!(fds[1].revents & POLLIN)) return;  // the device has gone
        int length = modbus_receive(context, query);
        if (length <= 0) continue;  // a broken frame, or one for another station
        std::lock_guard<std::mutex> hold(lock);
        const std::vector<uint8_t> request(query, query + length);
        const int sent = answerFirst && answerFirst(*context, request)
                             ? 0
                             : modbus_reply(context, query, length, mapping);
        if (sent > 0) replyLengths.push_back(sent);
        if (afterReply) afterReply(*mapping);
        lastRequest.assign(query, query + length - 2);
        ++requestsServed;
        served.notify_all();
    }
}

int ModbusRtuSlave::RequestsServed() const {
    std::lock_guard<std::mutex> hold(lock);
    return requestsServed;
}

bool ModbusRtuSlave::WaitForRequests(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> hold(lock);
    return served.wait_for(hold, timeout, [&] { return requestsServed >= count; });
}

std::vector<uint8_t> ModbusRtuSlave::LastRequest() const {
    std::lock_guard<std::mutex> hold(lock);
    return lastRequest;
}

void ModbusRtuSlave::WithMapping(const std::function<void(modbus_mapping_t&)>& use) {
    std::lock_guard<std::mutex> hold(lock);
    use(*mapping);
}

void ModbusRtuSlave::AfterEachReply(std::function<void(modbus_mapping_t&)> change) {
    std::lock_guard<std::mutex> hold(lock);
    afterReply = std::move(change);
}

void ModbusRtuSlave::AnswerFirst(
    std::function<bool(modbus_t&, const std::vector<uint8_t>&)> answer) {
    std::lock_guard<std::mutex> hold(lock);
    answerFirst = std::move(answer);
}

std::vector<int> ModbusRtuSlave::ReplyLengths() const {
    std::lock_guard<std::mutex> hold(lock);
    return replyLengths;
}
