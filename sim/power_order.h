// The order in which the image module must be powered, released from its
// resets and connected: what the module's hardware would not survive or
// not start from when a line changes out of turn.
#pragma once

#include "sim/lines.h"

namespace optad::sim {

struct PowerOrderRule {
    Line line;      // the line that changes
    int to;         // to this level (ANY_LEVEL: any change)
    Line needs;     // which must be at
    int needs_level;  // this level at that moment
    const char *text;
};

inline constexpr int ANY_LEVEL = -1;

// The rules, one row each.
//
// Releasing the IMC's reset starts it: its supplies must be good and its
// PCIe reference clock running (it samples the clock at reset release).
// Its PCIe endpoint comes out of reset only after the controller itself.
// The FPGA starts its own configuration when released, from the module's
// supplies. The SPI front may connect the main board's SPI to the IMC only
// while the IMC is powered and out of reset (else the main board drives an
// unpowered chip's pins). The safe-boot strap is sampled at reset release
// and must not move while the IMC runs. The DC/DC converters run from
// 12 V: they are enabled after it and disabled before it.
//
// What the rules leave alone: asserting a reset, isolating the SPI front,
// the PMIC's tristate (its path may stay released over a shutdown), and the
// 1.8 V reset buffer, which only holds the reset lines in their state.
inline constexpr PowerOrderRule POWER_ORDER[] = {
    {Line::FrontReset, 1, Line::PowerGood, 1, "imc_front_reset released (1) without POWER_GOOD"},
    {Line::FrontReset, 1, Line::PcieClkEnable, 1,
     "imc_front_reset released (1) without the PCIe reference clock (imc_pcie_clk_enable 0)"},
    {Line::Perst, 1, Line::FrontReset, 1, "imc_perst released (1) while the IMC is held in reset (imc_front_reset 0)"},
    {Line::FpgaReset, 1, Line::RstBuffer1v8, 1, "fpga_reset released (1) without the 1.8 V reset buffer"},
    {Line::FpgaReset, 1, Line::Enable12v, 1, "fpga_reset released (1) without 12 V"},
    {Line::FpgaReset, 1, Line::DcdcEn, 1, "fpga_reset released (1) without the DC/DC converters"},
    {Line::FpgaReset, 1, Line::PowerGood, 1, "fpga_reset released (1) without POWER_GOOD"},
    {Line::SpiFrontTristate, 0, Line::PowerGood, 1, "imc_spi_front_tristate released (0) without POWER_GOOD"},
    {Line::SpiFrontTristate, 0, Line::FrontReset, 1,
     "imc_spi_front_tristate released (0) while the IMC is held in reset (imc_front_reset 0)"},
    {Line::SafeBoot, ANY_LEVEL, Line::FrontReset, 0,
     "imc_safe_boot changed while the IMC is out of reset (imc_front_reset 1)"},
    {Line::DcdcEn, 1, Line::Enable12v, 1, "imc_dcdc_en switched on (1) without 12 V (imc_12v_enable 0)"},
    {Line::Enable12v, 0, Line::DcdcEn, 0, "imc_12v_enable switched off (0) while imc_dcdc_en is 1"},
};

// Calls report(text) for each rule that changing `line` to `level` breaks,
// with the lines as they are before the change. Returns how many.
template <typename Report>
int power_order_check(const Lines &lines, Line line, int level, Report report)
{
    if (lines.level(line) == level)
        return 0;
    int broken = 0;
    for (const PowerOrderRule &rule : POWER_ORDER) {
        if (rule.line != line || (rule.to != ANY_LEVEL && rule.to != level))
            continue;
        if (lines.level(rule.needs) != rule.needs_level) {
            report(rule.text);
            ++broken;
        }
    }
    return broken;
}

}  // namespace optad::sim
