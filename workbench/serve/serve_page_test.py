#!/usr/bin/python3
"""urea-reactor serve's page in headless Chromium (Debian's chromium,
chromium-driver and python3-selenium): it loads, every panel draws, nothing
goes to the console, a window's detail shows on a click, plant text shows as
text; then watch keeps one more pass (rows appended to the history) and the
page shows the new windows without a reload. Saves a screenshot (serve.png)
in WORK_DIR. Every wait has a time-out.

    serve_page_test.py UREA_REACTOR WORKBENCH_MAKE_HISTORY WORK_DIR
"""
import pathlib
import shutil
import socket
import subprocess
import sys
import time

REACTOR, MAKE_HISTORY, WORK = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])


def skip(why):
    print("SKIP:", why)
    sys.exit(77)  # CTest's SKIP_RETURN_CODE


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    skip("python3-selenium is not installed (scripts/install-deps installs it)")
if not shutil.which("chromedriver") or not shutil.which("chromium"):
    skip("chromium or chromium-driver is not installed (scripts/install-deps installs them)")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def watch(history):
    subprocess.run([REACTOR, "watch", str(history), "--store", str(WORK / "plant.db"), "--fix", "a1=1", "--stale", "10000d"],
                   check=True, capture_output=True, timeout=600)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    # The whole history made, then fed in two pieces: all but its last 3 days, then those.
    whole, history = WORK / "whole.csv", WORK / "plant <img src=x onerror=alert(1)>.csv"
    subprocess.run([MAKE_HISTORY, str(whole), "24", "1h", "events"], check=True, capture_output=True, timeout=300)
    lines = whole.read_text().splitlines(keepends=True)
    cut = len(lines) - 72
    history.write_text("".join(lines[:cut]))
    watch(history)

    port = free_port()
    server = subprocess.Popen([REACTOR, "serve", "--store", str(WORK / "plant.db"), "--listen", f"127.0.0.1:{port}"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    options = webdriver.ChromeOptions()
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1400,2600",
              f"--user-data-dir={WORK / 'chromium-profile'}", "--no-first-run", "--disable-extensions"]:
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = None
    try:
        if not server.stdout.readline().startswith("serving "):
            raise SystemExit("serve did not start: " + server.stderr.read())
        driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        driver.set_page_load_timeout(30)
        driver.set_script_timeout(30)
        driver.get(f"http://127.0.0.1:{port}/")
        wait = WebDriverWait(driver, 30)
        wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-windows"))
        first = int(driver.find_element(By.TAG_NAME, "body").get_attribute("data-windows"))
        assert first > 5, first
        for panel in ["a2-chart", "conversion-chart", "meter-chart"]:
            canvases = driver.find_elements(By.CSS_SELECTOR, f"#{panel} canvas")
            assert canvases and canvases[0].size["width"] > 300, panel
        for table in ["alerts", "screening", "meter-spans"]:
            assert driver.find_elements(By.CSS_SELECTOR, f"#{table} tbody tr"), table
        assert driver.find_elements(By.CSS_SELECTOR, "#latest dd"), "latest window"
        # Plant text is text: the file name's markup shows as written, and made no element.
        provenance = driver.find_element(By.ID, "provenance").text
        assert "plant <img src=x onerror=alert(1)>.csv" in provenance, provenance
        assert not driver.find_elements(By.CSS_SELECTOR, "#provenance img")
        # A click on the a2 chart: that window's detail.
        over = driver.find_element(By.CSS_SELECTOR, "#a2-chart .u-over")
        webdriver.ActionChains(driver).move_to_element(over).click().perform()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#detail dd"))
        assert "balance test" in driver.find_element(By.ID, "detail").text

        # One more pass of watch: the page follows by itself.
        with open(history, "a") as f:
            f.write("".join(lines[cut:]))
        watch(history)
        WebDriverWait(driver, 40).until(
            lambda d: int(d.find_element(By.TAG_NAME, "body").get_attribute("data-windows")) > first)
        time.sleep(0.5)
        driver.save_screenshot(str(WORK / "serve.png"))
        errors = [e for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        assert not errors, errors
        print(f"page: {first} windows, then {driver.find_element(By.TAG_NAME, 'body').get_attribute('data-windows')}"
              f" after a pass; screenshot {WORK / 'serve.png'}")
    finally:
        if driver is not None:
            driver.quit()
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()


if __name__ == "__main__":
    main()
