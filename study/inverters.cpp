#include "study/inverters.hpp"

#include <cmath>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "study/folder.hpp"

namespace umbrascope::study {

namespace {

std::string curve_line(const std::string& name, const Curve& curve)
{
    std::string x, y;
    for (const auto& [volts, value] : curve) {
        x += (x.empty() ? "" : " ") + decimal_text(volts, 6);
        y += (y.empty() ? "" : " ") + decimal_text(value, 6);
    }
    return "New XYcurve." + name + " npts=" + std::to_string(curve.size()) + " Xarray=[" + x + "] Yarray=[" + y + "]\n";
}

}  // namespace

Inverters inverter_mode(std::string_view text)
{
    Inverters out;
    const std::string mode = lower(trim_blanks(text));
    if (mode == "unity" || mode == "volt-var" || mode == "volt-watt" || mode == "volt-var+volt-watt") {
        out.mode = mode;
        return out;
    }
    if (mode.rfind("pf=", 0) == 0) {
        const std::optional<double> pf = number_of(mode.substr(3));
        if (!pf || !std::isfinite(*pf) || *pf <= 0 || *pf > 1)
            throw StudyError("--inverter " + std::string(text) + ": a power factor is above 0 and at most 1 (0.95 "
                             "absorbs reactive power at 0.95)");
        out.mode = "pf=" + decimal_text(*pf, 6);
        out.pf = *pf;
        return out;
    }
    throw StudyError("--inverter takes unity, pf=0.95 (or another factor), volt-var, volt-watt or "
                     "volt-var+volt-watt, not '" + std::string(text) + "'");
}

Curve read_curve(const std::string& text, const std::string& file)
{
    Curve out;
    each_line(text, [&](std::string_view line, long number) {
        line = trim_blanks(line.substr(0, line.find('#')));
        if (line.empty())
            return;
        const std::size_t comma = line.find(',');
        const std::optional<double> volts = comma == std::string_view::npos ? std::nullopt : number_of(trim_blanks(line.substr(0, comma)));
        const std::optional<double> value = comma == std::string_view::npos ? std::nullopt : number_of(trim_blanks(line.substr(comma + 1)));
        if (!volts || !value || !std::isfinite(*volts) || !std::isfinite(*value) || *volts <= 0)
            throw StudyError(file + ":" + std::to_string(number) + ": a line is voltage,value, the voltage per unit above 0");
        if (!out.empty() && *volts <= out.back().first)
            throw StudyError(file + ":" + std::to_string(number) + ": the voltages must rise from line to line");
        if (!out.empty() && *value > out.back().second)
            throw StudyError(file + ":" + std::to_string(number) +
                             ": the curve rises with the voltage, which would push it higher still: it must not rise");
        out.emplace_back(*volts, *value);
    });
    if (out.size() < 2)
        throw StudyError(file + " holds fewer than two points of a curve");
    return out;
}

std::vector<std::string> left_at_unity(const Inverters& inverters, const std::vector<ControlledPv>& pv)
{
    std::vector<std::string> out;
    if (inverters.controlled() && inverters.mode.rfind("pf=", 0) != 0)
        for (const ControlledPv& one : pv)
            if (one.phase_to_phase)
                out.push_back("PVSystem." + one.name);
    return out;
}

std::string inverter_lines(const Inverters& inverters, const std::vector<ControlledPv>& pv)
{
    if (!inverters.controlled() || pv.empty())
        return {};
    std::string out = "! The PV systems' inverters: " + inverters.mode + ", each inverter's kVA " +
                      decimal_text(inverters.kva_ratio, 3) + " times its Pmpp.\n";
    for (const ControlledPv& one : pv) {
        out += "Edit " + dss_name("PVSystem." + one.name) + " kVA=" + decimal_text(one.pmpp_kw * inverters.kva_ratio, 6);
        // A fixed power factor absorbs reactive power, as it is set to hold the voltage down.
        if (inverters.mode.rfind("pf=", 0) == 0)
            out += " pf=" + decimal_text(-inverters.pf, 6);
        out += "\n";
    }
    if (inverters.mode.rfind("pf=", 0) == 0)
        return out;
    const bool var = inverters.mode.find("volt-var") != std::string::npos;
    const bool watt = inverters.mode.find("volt-watt") != std::string::npos;
    if (var)
        out += curve_line("umbrascope_volt_var", inverters.volt_var);
    if (watt)
        out += curve_line("umbrascope_volt_watt", inverters.volt_watt);
    std::string list;
    for (const ControlledPv& one : pv)
        if (!one.phase_to_phase)
            list += (list.empty() ? "" : " ") + dss_name("PVSystem." + one.name);
    if (list.empty())
        return out;
    out += "New InvControl.umbrascope_inverters DERList=[" + list + "]";
    if (var && watt)
        out += " CombiMode=VV_VW";
    else
        out += var ? " Mode=VOLTVAR" : " Mode=VOLTWATT";
    if (var)
        out += " vvc_curve1=umbrascope_volt_var RefReactivePower=VARMAX voltage_curvex_ref=rated";
    if (watt)
        out += " voltwatt_curve=umbrascope_volt_watt VoltwattYAxis=PMPPPU";
    // The open-loop response: a low-pass filter whose time constant is a fifth of it.
    out += " RateofChangeMode=LPF LPFTau=" + decimal_text((var ? inverters.var_response_s : inverters.watt_response_s) / 5, 6) +
           "\n";
    out += "Set MaxControlIter=100\n";
    return out;
}

}  // namespace umbrascope::study
