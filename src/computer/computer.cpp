#include "computer/computer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cartridge/cartridge.h"
#include "computer/log.h"

uint8_t test_byte = 0;

bool RAM_init(RAM* ram) {
    ram->buffer = static_cast<uint8_t*>(std::calloc(RAM_BUFFER_SIZE, 1));
    return ram->buffer != nullptr;
}

void RAM_free(RAM* ram) {
    std::free(ram->buffer);
    ram->buffer = nullptr;
}

uint8_t RAM_read(RAM* ram, uint16_t address) { return ram->buffer[address - RAM_FIRST]; }

void RAM_write(RAM* ram, uint16_t address, uint8_t value) { ram->buffer[address - RAM_FIRST] = value; }

uint8_t TestPort_in(void*, uint16_t port) {
    Log_line("in[0x%X] -> 0x%X\n", port, test_byte);
    return test_byte;
}

void TestPort_out(void*, uint16_t port, uint8_t value) {
    Log_line("out[0x%X] <- 0x%X\n", port, value);
    test_byte = value;
}

namespace {

// Devices keep typed handlers; the bus stores them behind a void context.
template <typename Device, uint8_t (*Read)(Device*, uint16_t)>
uint8_t read_thunk(void* context, uint16_t address) {
    return Read(static_cast<Device*>(context), address);
}

template <typename Device, void (*Write)(Device*, uint16_t, uint8_t)>
void write_thunk(void* context, uint16_t address, uint8_t value) {
    Write(static_cast<Device*>(context), address, value);
}

template <typename Device, uint8_t (*Read)(Device*, uint16_t), void (*Write)(Device*, uint16_t, uint8_t)>
BusRegion memory_region(const char* name, Device* device, uint16_t first, uint16_t last) {
    return BusRegion{
        name, device, first, last, REGION_MEMORY, read_thunk<Device, Read>, write_thunk<Device, Write>};
}

// The test port needs no device; any non-null context makes its slot active.
void* const TEST_PORT_MARKER = reinterpret_cast<void*>(uintptr_t{0x1234});

} // namespace

bool Computer_init(Computer* computer) {
    APU_init_tables();
    computer->cartridge = nullptr;
    computer->frame = 0;
    APU_init(&computer->apu);
    Bus_init(&computer->bus);
    computer->cpu.cells.fill(0);
    CPU_init(&computer->cpu, &computer->bus);
    computer->cpu.clock_rate = 1000000;
    DMA_init(&computer->dma, &computer->bus);
    bool have_vram = GPU_init(&computer->gpu);
    computer->gpu.refresh_rate = 60;
    ControllerPort_init(&computer->controllers);
    bool have_ram = RAM_init(&computer->ram);
    if (!have_vram || !have_ram) {
        Log_error("lumacor: out of memory for the machine's %s\n", have_ram ? "video memory" : "work RAM");
        return false;
    }

    // clang-format off
    auto& slot = computer->bus.regions;
    slot[SLOT_ROM]        = memory_region<Cartridge, Cartridge_read_rom, Cartridge_write_rom>("rom", nullptr, ROM_FIRST, ROM_LAST);
    slot[SLOT_GPU]        = memory_region<GPU, GPU_read, GPU_write>("gpu", &computer->gpu, GPU_FIRST, GPU_LAST);
    slot[SLOT_RAM]        = memory_region<RAM, RAM_read, RAM_write>("ram", &computer->ram, RAM_FIRST, RAM_LAST);
    slot[SLOT_STORAGE]    = memory_region<Cartridge, Cartridge_read_storage, Cartridge_write_storage>("storage", nullptr, STORAGE_FIRST, STORAGE_LAST);
    slot[SLOT_DMA]        = memory_region<DMA, DMA_read, DMA_write>("i/o dma", &computer->dma, DMA_FIRST, DMA_LAST);
    slot[SLOT_APU]        = memory_region<APU, APU_read, APU_write>("i/o apu", &computer->apu, APU_FIRST, APU_LAST);
    slot[SLOT_CONTROLLER] = memory_region<ControllerPort, ControllerPort_read, ControllerPort_write>("i/o controller", &computer->controllers, CONTROLLER_FIRST, CONTROLLER_LAST);
    slot[SLOT_STACK]      = memory_region<CPU, CPU_stack_read, CPU_stack_write>("stack", &computer->cpu, STACK_WINDOW, STACK_TOP);
    slot[SLOT_TEST]       = BusRegion{"test", TEST_PORT_MARKER, TEST_PORT, TEST_PORT, REGION_PORT, TestPort_in, TestPort_out};
    // clang-format on

    for (const BusRegion& region : computer->bus.regions) {
        if (!region.name) continue;
        Log_line("%04lX-%04lX %d %s (%d)\n", static_cast<unsigned long>(region.first),
                 static_cast<unsigned long>(region.last), static_cast<int>(region.kind), region.name,
                 region.last - region.first + 1);
    }
    return true;
}

void Computer_attach_cartridge(Computer* computer, Cartridge* cartridge) {
    computer->bus.regions[SLOT_ROM].context = cartridge;
    computer->bus.regions[SLOT_STORAGE].context = cartridge;
    computer->cartridge = cartridge;
}

void Computer_detach_cartridge(Computer* computer) {
    computer->bus.regions[SLOT_ROM].context = nullptr;
    computer->bus.regions[SLOT_STORAGE].context = nullptr;
    computer->cartridge = nullptr;
}

void Computer_free(Computer* computer) {
    APU_free_tables();
    APU_free(&computer->apu);
    Bus_free(&computer->bus);
    CPU_free(&computer->cpu);
    DMA_free(&computer->dma);
    GPU_free(&computer->gpu);
    ControllerPort_free(&computer->controllers);
    RAM_free(&computer->ram);
}

int Computer_run_instructions(Computer* computer, int budget) {
    CPU* cpu = &computer->cpu;
    int executed = 0;
    while (CPU_is_running(cpu) && executed < budget) {
        CPU_step(cpu);
        DMA_update(&computer->dma);
        ++executed;
    }
    return executed;
}

void Computer_reset(Computer* computer) {
    CPU* cpu = &computer->cpu;
    uint32_t clock_rate = cpu->clock_rate;
    cpu->cells.fill(0);
    CPU_init(cpu, &computer->bus);
    cpu->clock_rate = clock_rate;
    std::memset(computer->ram.buffer, 0, RAM_BUFFER_SIZE);
    std::memset(computer->gpu.vram, 0, VRAM_SIZE);
    computer->apu.waveform.store(0, std::memory_order_relaxed);
    computer->apu.note.store(0, std::memory_order_relaxed);
    computer->apu.volume.store(0, std::memory_order_relaxed);
    computer->dma.registers.fill(0);
    if (computer->cartridge) computer->cartridge->bank = 1;
    test_byte = 0;
    computer->frame = 0;
}

void Computer_start(Computer* computer) {
    CPU_set_pc(&computer->cpu, START_ADDRESS);
    CPU_start(&computer->cpu);
    computer->frame = 0;
}

FrameEnd Computer_run_frame(Computer* computer, uint8_t* frame) {
    Computer_run_instructions(computer, Computer_cycles_per_frame(computer));
    return Computer_end_frame(computer, frame);
}

FrameEnd Computer_end_frame(Computer* computer, uint8_t* frame) {
    CPU* cpu = &computer->cpu;
    if (frame) GPU_compose(&computer->gpu, frame);
    CPU_interrupt(cpu, FRAME_VECTOR);
    ++computer->frame;
    if (CPU_is_running(cpu)) return FrameEnd::Running;
    return cpu->illegal_opcode ? FrameEnd::IllegalOpcode : FrameEnd::Stopped;
}

int32_t Computer_cycles_per_frame(const Computer* computer) {
    return static_cast<int32_t>(computer->cpu.clock_rate / computer->gpu.refresh_rate);
}
