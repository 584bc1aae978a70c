# The tuning loop from Python: the estimate's intervals, region, resampling
# and tuned case, predictions with bands and the design of the next run, each
# giving what the command line gives.
import json
import os

import pytest

import urea_reactor as ur
from conftest import RUNS, cli, cli_json


def without_build(j):
    return {k: v for k, v in j.items() if k != "build"}


def in_words(j, python):
    """The advice in a document said as the command line says it: Python's
    words ('fix={"a1": 1}') for the command line's ('--fix a1=1')."""
    text = json.dumps(j)
    return json.loads(text.replace('fix=', '--fix ') if python else text)


def test_an_estimate_carries_what_the_command_line_writes_and_writes_its_files(tmp_path):
    e = ur.estimate(RUNS, fix={"a1": 1}, bootstrap=20, seed=3)
    j = cli_json("estimate", RUNS, "--fix", "a1=1", "--bootstrap", "20", "--seed", "3")
    # to_json() is the estimate file: the command line's, bit for bit, but
    # for the advice in its words ("held (fix)" where it says "held (--fix)").
    ours = without_build(json.loads(e.to_json()))
    assert "held at 1 (fix)" in ours["parameters"]["a1"]["verdict_text"]
    assert ours["verdict"][0] == "a1 is held at 1 (fix)."
    for doc in (ours, without_build(j)):
        doc["verdict"][0] = doc["parameters"]["a1"]["verdict_text"] = "(said in the client's words)"
    assert ours == without_build(j)
    assert json.loads(e.to_json())["build"] == j["build"]
    a2 = e.parameters["a2"]
    assert list(a2.profile95) == j["parameters"]["a2"]["profile95"] and e.parameters["a1"].profile95 is None
    assert list(a2.profile.value) == [p["value"] for p in j["parameters"]["a2"]["profile"]["points"]]
    assert list(e.bootstrap["samples"].a2) == [s[1] for s in j["bootstrap"]["samples"]]
    assert list(e.leave_one_out.a2) == [r["without_it"]["a2"] for r in j["leave_one_out"]["runs"]]
    assert e.influential["a2"] == j["leave_one_out"]["influential"]["a2"]
    assert e.tuned_case.a2 == e.tuned["a2"]["value"] == j["tuned_case"]["a2"]["value"]
    # The tuned case written as --write-case writes it (the writer's line apart).
    e.write_case(tmp_path / "tuned.json")
    status, _, err = cli("estimate", RUNS, "--fix", "a1=1", "--write-case", str(tmp_path / "cli.json"))
    assert status == 0, err
    ours, theirs = (open(tmp_path / n).read().splitlines() for n in ("tuned.json", "cli.json"))
    assert [l.replace("with fix", "with --fix") for l in ours[1:]] == theirs[1:] and "Python" in ours[0]
    assert ur.run(str(tmp_path / "tuned.json")).co2_conversion == e.tuned["co2_conversion"]
    e.write_report(tmp_path / "report.html")
    page = open(tmp_path / "report.html").read()
    assert page.count("<svg") == 2 and "a2" in page


def test_bands_from_an_estimate_or_its_file_give_the_command_lines():
    e = ur.estimate(RUNS, fix={"a1": 1})
    est = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"urea-est-{os.getpid()}.json")
    with open(est, "w") as f:
        f.write(e.to_json())
    try:
        for band in ("profile", "linearised"):
            r = ur.run(estimate=e, band=band)
            j = cli_json("--estimate", est, "--band", band)
            assert r.band["method"] == band and r.band["description"] == j["prediction"]["band"]["description"]
            want = {x["name"]: (x["value"], x["low"], x["high"]) for x in j["prediction"]["results"]}
            got = {n: (v, lo, hi) for n, v, lo, hi in zip(r.bands.name, r.bands.value, r.bands.low, r.bands.high)}
            assert got == want
            assert r.case.a2 == e.a2
        s = ur.study(vary={"nh3_co2": [2.9, 3.3]}, results=["co2_conversion", "w_UREA"], estimate=est)
        j = cli_json("study", "--estimate", est, "--vary", "nh3_co2=2.9,3.3", "--result", "co2_conversion,w_UREA")
        for k, p in enumerate(j["points"]):
            assert s.columns["w_UREA_low"][k] == p["low"]["w_UREA"]
            assert s.columns["co2_conversion_high"][k] == p["high"]["co2_conversion"]
        w = ur.sweep(vary={"co2": (2000, 2400, 2)}, estimate=e)  # a study, as sweep --estimate writes one
        j = cli_json("sweep", "--estimate", est, "--vary", "co2=2000:2400:2")
        assert list(w.columns["w_NH3_high"]) == [p["high"]["w_NH3"] for p in j["points"]]
        with pytest.raises(ur.InputError, match="the estimate sets a1 and a2"):
            ur.study(vary={"a2": [0.1, 0.2]}, estimate=e)
        with pytest.raises(ur.InputError, match="bands need an estimate"):
            ur.run(band="profile")
        # Factors tuned on one reactor go to another only when asked.
        other = ur.Case.default().with_settings(trays=4)
        with pytest.raises(ur.InputError, match=r"reactor.trays \(tuned on 10; this case: 4\).*carry_factors"):
            ur.run(other, estimate=e)
        assert any("tuned on another case" in w for w in ur.run(other, estimate=e, carry_factors=True).warnings)
    finally:
        os.remove(est)


def test_a_design_gives_the_command_lines_ranking_and_verdict():
    e = ur.estimate(RUNS, fix={"a1": 1})
    est = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"urea-design-{os.getpid()}.json")
    with open(est, "w") as f:
        f.write(e.to_json())
    try:
        d = ur.design(RUNS, vary={"t_out": (176, 192, 5), "nh3_co2": [2.9, 3.3]}, estimate=e)
        j = cli_json("design", RUNS, "--estimate", est, "--vary", "t-out=176:192:5", "--vary", "nh3_co2=2.9,3.3")
    finally:
        os.remove(est)
    assert d.ranking == j["ranking"] and d.verdict == j["verdict"]
    assert (d.criterion, d.ranked_factor) == (j["criterion"], j["ranked_factor"])
    c = d.candidates
    assert list(c.rank) == [x["rank"] for x in j["candidates"]]
    assert list(c.a2_lower) == [x["expected95"]["a2"][0] for x in j["candidates"]]
    assert "Verdict" in str(d)
    with pytest.raises(ur.InputError, match="the next run's a1 and a2 are the plant's"):
        ur.design(RUNS, vary={"a2": [0.1, 0.2]}, estimate=e)
