// The DMA controller: register file, the block copy run by DMA_update after
// an instruction, wrap-around, overlapping blocks and a block that writes
// the controller's own registers.
#include "machine_test.h"

namespace {

class DmaTest : public MachineTest {
protected:
    void set_registers(uint16_t source, uint16_t destination, uint16_t length, uint8_t control) {
        const uint8_t r[7] = {uint8_t(source >> 8),      uint8_t(source),      uint8_t(destination >> 8),
                              uint8_t(destination),      uint8_t(length >> 8), uint8_t(length),
                              control};
        for (int i = 0; i < 7; ++i) write(static_cast<uint16_t>(DMA_FIRST + i), r[i]);
    }
    void fill(uint16_t at, int count, uint8_t first) {
        for (int i = 0; i < count; ++i) write(static_cast<uint16_t>(at + i), static_cast<uint8_t>(first + i));
    }
};

TEST_F(DmaTest, CopyRequestedByAnInstructionRunsRightAfterIt) {
    fill(0xA100, 16, 0x30);
    set_registers(0xA100, 0x8000, 0x0010, 0x00);
    CPU_set_pair(cpu(), 0, 0xFF06);
    program({0x14, 0x00, 0x01, 0x00}); // ST [p0], 1 ; NOP
    EXPECT_EQ(Computer_run_instructions(&computer, 1), 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(computer.gpu.vram[i], 0x30 + i) << i;
    EXPECT_EQ(computer.gpu.vram[16], 0);
    const uint8_t expected[7] = {0xA1, 0x00, 0x80, 0x00, 0x00, 0x10, 0x00};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(read(static_cast<uint16_t>(DMA_FIRST + i)), expected[i]) << i;
}

TEST_F(DmaTest, WriteAloneStartsNothing) {
    fill(0xA100, 4, 1);
    set_registers(0xA100, 0xB000, 4, 0x01);
    EXPECT_EQ(read(0xB000), 0);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB003), 4);
}

TEST_F(DmaTest, OtherControlBitsStartNothingAndStay) {
    fill(0xA100, 4, 1);
    set_registers(0xA100, 0xB000, 4, 0xFE);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 0);
    EXPECT_EQ(read(0xFF06), 0xFE);
    write(0xFF06, 0x03); // bit 0 with another bit: a transfer, then all clear
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 1);
    EXPECT_EQ(read(0xFF06), 0x00);
}

TEST_F(DmaTest, ZeroLengthCopiesNothingAndClearsControl) {
    fill(0xA100, 4, 1);
    set_registers(0xA100, 0xB000, 0, 0x01);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 0);
    EXPECT_EQ(read(0xFF06), 0x00);
}

TEST_F(DmaTest, SourceAndDestinationWrapAt16Bits) {
    MemoryCartridge cart(0x100);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    stack()[0xFF] = 0xAA; // bus 0xFFFF
    set_registers(0xFFFF, 0xB000, 2, 0x01);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 0xAA);
    EXPECT_EQ(read(0xB001), cart.image[0]);

    fill(0xA100, 3, 0x61);
    set_registers(0xA100, 0xFFFE, 3, 0x01); // 0xFFFE, 0xFFFF, then the ROM at 0x0000
    DMA_update(&computer.dma);
    EXPECT_EQ(stack()[0xFE], 0x61);
    EXPECT_EQ(stack()[0xFF], 0x62);
}

TEST_F(DmaTest, OverlappingBlockAboveTheSourceRepeatsItsFirstBytes) {
    fill(0xA100, 17, 0x40);
    set_registers(0xA100, 0xA101, 16, 0x01);
    DMA_update(&computer.dma);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(read(static_cast<uint16_t>(0xA100 + i)), 0x40) << i;
    EXPECT_EQ(read(0xA111), 0);

    fill(0xA200, 8, 0x10);
    set_registers(0xA200, 0xA203, 8, 0x01); // k = 3: the first three repeat
    DMA_update(&computer.dma);
    const uint8_t expected[] = {0x10, 0x11, 0x12, 0x10, 0x11, 0x12, 0x10, 0x11, 0x12, 0x10, 0x11};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(read(static_cast<uint16_t>(0xA200 + i)), expected[i]) << i;
}

TEST_F(DmaTest, OverlappingBlockBelowTheSourceCopiesWhole) {
    fill(0xA101, 16, 0x50);
    set_registers(0xA101, 0xA100, 16, 0x01);
    DMA_update(&computer.dma);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(read(static_cast<uint16_t>(0xA100 + i)), 0x50 + i) << i;
    EXPECT_EQ(read(0xA110), 0x5F);
}

TEST_F(DmaTest, SettingControlAgainRepeatsTheCopy) {
    fill(0xA100, 4, 1);
    set_registers(0xA100, 0xB000, 4, 0x01);
    DMA_update(&computer.dma);
    fill(0xA100, 4, 0x21);
    write(0xFF06, 0x01);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 0x21);
    EXPECT_EQ(read(0xB003), 0x24);
}

TEST_F(DmaTest, BlockIntoItsOwnRegistersStartsNoSecondTransfer) {
    const uint8_t block[7] = {0xA2, 0x00, 0xB0, 0x00, 0x00, 0x04, 0x01};
    for (int i = 0; i < 7; ++i) write(static_cast<uint16_t>(0xA100 + i), block[i]);
    fill(0xA200, 4, 0x77);
    set_registers(0xA100, DMA_FIRST, 7, 0x01);
    DMA_update(&computer.dma);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(read(static_cast<uint16_t>(DMA_FIRST + i)), block[i]) << i;
    EXPECT_EQ(read(0xFF06), 0x00);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 0); // the copied registers describe a copy that never ran
}

TEST_F(DmaTest, RunningTransferKeepsTheCountItStartedWith) {
    // 12 bytes over 0xFF00-0xFF0B: the block rewrites source, destination and
    // length to zero on its way, yet every byte up to the controller bytes lands.
    for (int i = 0; i < 12; ++i) write(static_cast<uint16_t>(0xA100 + i), i < 6 ? 0 : static_cast<uint8_t>(0x80 + i));
    set_registers(0xA100, DMA_FIRST, 12, 0x01);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xFF06), 0x00); // written 0x86, then cleared at the end
    EXPECT_EQ(computer.apu.waveform.load(), 0x87);
    EXPECT_EQ(computer.apu.volume.load(), 0x89);
    EXPECT_EQ(computer.controllers.bytes[0], 0x8A);
    EXPECT_EQ(computer.controllers.bytes[1], 0x8B);
}

TEST_F(DmaTest, BytesGoThroughTheBusLikeCpuStores) {
    MemoryCartridge cart(0x10000);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    write(0xA100, 3);
    set_registers(0xA100, 0x4000, 1, 0x01); // into the banked window: a bank switch
    testing::internal::CaptureStdout();
    DMA_update(&computer.dma);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Bank switched to: 3\n");
    EXPECT_EQ(cart.cartridge.bank, 3);

    set_registers(0xF000, 0xA300, 2, 0x01); // an unmapped source reads 0
    write(0xA300, 0xEE);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xA300), 0);
}

TEST_F(DmaTest, LengthIsABigEndianWord) {
    for (int i = 0; i < 0x124; ++i) computer.gpu.vram[i] = static_cast<uint8_t>(i | 1);
    set_registers(0x8000, 0xB000, 0x0123, 0x01);
    DMA_update(&computer.dma);
    EXPECT_EQ(read(0xB000), 0x01);
    EXPECT_EQ(read(0xB122), 0x23);
    EXPECT_EQ(read(0xB123), 0x00);
}

} // namespace
