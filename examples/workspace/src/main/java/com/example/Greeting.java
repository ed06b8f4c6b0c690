package com.example;

final class Greeting {
    private Greeting() {}

    static String of(String name) {
	return "Hello, " + name + "!"; 
    }
}
