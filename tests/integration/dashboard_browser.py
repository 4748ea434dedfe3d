#!/usr/bin/python3
"""Opens tarnel-web's page in headless Chromium (Selenium and chromium-driver), finds every
station named on the command line (the page is WIDTH pixels wide), clicks Skip on the first one
and waits until its card shows a new title. Its clips are CLIP seconds long: near a clip's end
it first waits for the next one, so that the title changes by the click and not by the clip
ending. Prints one JSON object: {"found": [...], "before": TITLE, "after": TITLE} and keeps
a screenshot. Exit status 0 when all went through, 1 otherwise (with "error" in the object)."""

import json
import sys
import tempfile

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait


def card(driver, name):
    for element in driver.find_elements(By.CSS_SELECTOR, "article.card"):
        if element.get_attribute("data-station") == name:
            return element
    return None


def title_of(driver, name):
    # The page keeps its cards between polls, but one that a station's return made anew is
    # simply read again.
    try:
        element = card(driver, name)
        if element is None:
            return None
        return element.find_element(By.CSS_SELECTOR, "[data-role=title]").text
    except StaleElementReferenceException:
        return None


def played_seconds(driver, name):
    """The card's "Played" figure ("m:ss" or "h:mm:ss") in seconds, or None."""
    try:
        terms = card(driver, name).find_elements(By.CSS_SELECTOR, "dt")
        for term in terms:
            if term.text == "Played":
                value = term.find_element(By.XPATH, "following-sibling::dd[1]").text
                seconds = 0
                for part in value.split(":"):
                    seconds = seconds * 60 + int(part)
                return seconds
    except (StaleElementReferenceException, AttributeError, ValueError):
        pass
    return None


def main():
    # dashboard_browser.py URL SCREENSHOT WIDTH CLIP NAME...
    url, screenshot, width = sys.argv[1], sys.argv[2], int(sys.argv[3])
    clip = int(sys.argv[4])
    names = sys.argv[5:]
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    with tempfile.TemporaryDirectory() as profile:
        # Root needs --no-sandbox; the rest keeps Chromium off the network, which is closed here.
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                         "--no-first-run", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync",
                         "--disable-dev-shm-usage", "--user-data-dir=" + profile,
                         "--window-size=%d,900" % width):
            options.add_argument(argument)
        if width < 500:
            # Chromium's smallest window is wider than a phone: emulate the phone's screen.
            options.add_experimental_option("mobileEmulation", {
                "deviceMetrics": {"width": width, "height": 800, "pixelRatio": 2.0}})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        result = {"found": []}
        try:
            driver.set_page_load_timeout(30)
            driver.get(url)
            wait = WebDriverWait(driver, 30)
            for name in names:
                wait.until(lambda d, n=name: card(d, n) is not None and title_of(d, n))
                result["found"].append(name)
            first = names[0]
            for _ in range(3):
                result["before"] = title_of(driver, first)
                played = played_seconds(driver, first)
                if played is None or played < clip - 15:
                    break
                WebDriverWait(driver, clip).until(
                    lambda d: title_of(d, first) not in (None, "", result["before"]))
            result["played_before"] = played_seconds(driver, first)
            button = card(driver, first).find_element(By.CSS_SELECTOR, "button[data-action=skip]")
            wait.until(expected_conditions.element_to_be_clickable(button))
            button.click()
            WebDriverWait(driver, 40).until(
                lambda d: title_of(d, first) not in (None, "", result["before"]))
            result["after"] = title_of(driver, first)
            driver.save_screenshot(screenshot)
        except Exception as error:  # reported to the test, which prints it
            result["error"] = "%s: %s" % (type(error).__name__, error)
            try:
                driver.save_screenshot(screenshot)
            except Exception:
                pass
        finally:
            driver.quit()
    print(json.dumps(result))
    return 0 if "error" not in result else 1


if __name__ == "__main__":
    sys.exit(main())
