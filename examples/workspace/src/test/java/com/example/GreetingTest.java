package com.example;

final class GreetingTest {
	// Tests are excluded from the style check by the example's patterns.
}
